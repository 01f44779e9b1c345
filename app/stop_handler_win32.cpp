#include "app/stop_handler.h"

#include <windows.h>

namespace ZT {

namespace {

HANDLE stop_event = nullptr;
HANDLE done_event = nullptr;

// Runs on a thread of its own. For Ctrl+C and Ctrl+Break the process goes on
// after the handler returns; for a console close, log-off or shut-down Windows
// ends it when the handler returns, so the handler waits for the teardown.
BOOL WINAPI on_console_event(DWORD type) {
    SetEvent(stop_event);
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
        WaitForSingleObject(done_event, 10000);
    return TRUE;
}

}  // namespace

void install_stop_handler(event_object& stop) {
    stop_event = reinterpret_cast<HANDLE>(stop.handle());
    done_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void stop_completed() {
    if (done_event) SetEvent(done_event);
}

}  // namespace ZT
