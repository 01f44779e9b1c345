// The program as a Windows service. The service control manager starts it
// with "-service" on its command line (the binPath of the service); it then
// registers with the control manager, reports START_PENDING, RUNNING once it
// serves, STOP_PENDING and STOPPED around the orderly stop, and ends a failed
// start with a service exit code so that the manager's recovery actions can
// restart it. A failed start is also written to the Application event log.
// The command line is the binPath's; arguments given to a start ("sc start
// NAME ARGUMENTS") are not read.
// Without the flag nothing of this runs, so that a start from a console stays
// what it always was. On POSIX the flag changes nothing: systemd and its kind
// run the program as it is.
#pragma once

#include "lib/event.h"

#include <functional>
#include <optional>
#include <string>

namespace ZT {

// True when an argument after the program name is exactly "-service" (bytes,
// case-sensitive, like "-config") and is not the path that follows "-config".
bool service_start_requested(int argc, const char* const* argv);

// What a start tells whoever started the program. A start from a console tells
// nobody; a service tells the control manager and the event log.
class start_reporter {
public:
    virtual ~start_reporter() = default;
    // The server listens and its address lines are out: it serves from now on.
    virtual void serving() {}
    // The start failed; `line` is the "Critical error: ..." line.
    virtual void failed(const std::string& line) { (void)line; }
};

// The start and the serving as the entry point runs them: returns the exit code
// (0 after the orderly stop) once `stop` has been set and the teardown is over,
// or at once after a failed start.
using service_body = std::function<int(start_reporter&)>;

// Hands the process to the service control manager, which runs `body` as the
// service; a stop or shut-down control sets `stop`. Returns the body's exit
// code once the service has reported STOPPED. Returns nothing, without running
// the body, when no control manager started the process (the flag typed at a
// prompt; always on POSIX): the caller then starts as from a console.
std::optional<int> run_as_service(event_object& stop, const service_body& body);

}  // namespace ZT
