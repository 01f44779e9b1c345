// The program: banner, configuration, server, address lines, then serve until
// stopped. A start-up failure is printed as "Critical error: " + message and
// the process exits with -1; started from Explorer, the window waits for Enter
// first. With "-service" the Windows service control manager runs the same
// start and serving (app/service.h).
#include "app/console_line.h"
#include "app/entry_point.h"
#include "app/server_urls.h"
#include "app/service.h"
#include "app/standard_handles.h"
#include "app/stop_handler.h"
#include "config/server_settings.h"
#include "ftp/configured_server.h"
#include "lib/abort.h"
#include "lib/network_session.h"

#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace {

// The start-up objects live in this order and go in the reverse one.
void serve(int argc, char** argv, ZT::event_object& stop, ZT::start_reporter& reporter) {
    ZT::console_line("TARVEX FTP server v1.4");
    ZT::server_settings settings(argc, argv);
    ZT::network_session networking;
    ZT::configured_server server(settings);
    ZT::console_line("Running");
    {
        const std::vector<std::string> urls = ZT::list_server_urls(server);
        for (const std::string& url : urls) ZT::console_line{url};
    }
    reporter.serving();
    // Serve until the process is asked to stop.
    ZT::wait_one(stop);
}

// 0 after the orderly teardown; -1 after a failed start, which is reported on
// standard error once everything built so far has gone, and to `reporter`.
int run(int argc, char** argv, ZT::event_object& stop, ZT::start_reporter& reporter) {
    try {
        serve(argc, argv, stop, reporter);
        return 0;
    } catch (const std::exception& error) {
        const std::string line = std::string("Critical error: ") + error.what();
        ZT::error_line{line};
        reporter.failed(line);
        return -1;
    }
}

}  // namespace

int ZT::tarvex_main(int argc, char** argv) {
    // Before the first handle of the program is opened, so that none of them can
    // become a standard handle (started without a console or with them closed).
    attach_null_device_to_closed_standard_handles();

    event_object stop;
    if (service_start_requested(argc, argv)) {
        // A service has no console: the control manager's stop and shut-down
        // set the event, and no console handler is installed, since Windows
        // sends every service a log-off event when any user logs off.
        const std::optional<int> code =
            run_as_service(stop, [&](start_reporter& reporter) { return run(argc, argv, stop, reporter); });
        if (code) return *code;
    }

    // Installed before anything can fail, so that a stop during start-up is not lost.
    install_stop_handler(stop);
    start_reporter console;
    const int code = run(argc, argv, stop, console);
    // The teardown is over: closing the console while it waits for Enter ends
    // the process at once.
    stop_completed();
    if (code != 0) keep_console_open_after_failure();
    return code;
}
