#include "app/service.h"

#include "lib/text.h"

#include <mutex>
#include <windows.h>

namespace ZT {

namespace {

// The event of the Application log that carries a "Critical error" line. The
// message table of tarvex.exe (app/tarvex.rc) holds its text, "%1", so that
// Event Viewer shows the line alone once the source is registered.
constexpr DWORD critical_error_event = 1;

// The service-specific exit code of a failed start, beside
// ERROR_SERVICE_SPECIFIC_ERROR as the Win32 exit code. The event log says why.
constexpr DWORD failed_start_code = 1;

// What the control manager is told to expect: the start reads the
// configuration and binds the listener (name resolution retries included); the
// orderly stop ends every session within about a second.
constexpr DWORD start_wait_hint_ms = 30000;
constexpr DWORD stop_wait_hint_ms = 10000;

void write_to_event_log(const std::string& line) {
    HANDLE source = RegisterEventSourceW(nullptr, L"TARVEX");
    if (source == nullptr) return;
    const std::u16string text = utf8_to_utf16(line);
    const wchar_t* strings[] = {reinterpret_cast<const wchar_t*>(text.c_str())};
    ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, critical_error_event, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(source);
}

// The one service of the process: its status as the control manager sees it.
// The body runs on the thread of ServiceMain; controls arrive on the main
// thread, inside StartServiceCtrlDispatcherW. Nothing is reported after
// STOPPED: the process may end at any moment from then on.
class service final : public start_reporter {
public:
    service(event_object& stop, const service_body& body) : stop_(stop), body_(body) {}
    service(const service&) = delete;
    service& operator=(const service&) = delete;

    void main() {
        SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExW(L"", on_control, this);
        if (handle == nullptr) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            handle_ = handle;
        }
        report(SERVICE_START_PENDING, start_wait_hint_ms);
        exit_code_ = body_(*this);
        report(SERVICE_STOPPED, 0, exit_code_ == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR);
    }

    void serving() override { report(SERVICE_RUNNING, 0); }
    void failed(const std::string& line) override { write_to_event_log(line); }

    int exit_code() const { return exit_code_; }

private:
    static DWORD WINAPI on_control(DWORD control, DWORD, void*, void* context) {
        service& self = *static_cast<service*>(context);
        switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            // Reported before the event is set, so that it can never come
            // after the STOPPED of a teardown that is already over.
            self.report(SERVICE_STOP_PENDING, stop_wait_hint_ms);
            self.stop_.set();
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
        }
    }

    void report(DWORD state, DWORD wait_hint_ms, DWORD win32_exit_code = NO_ERROR) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (handle_ == nullptr || status_.dwCurrentState == SERVICE_STOPPED) return;
        const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
        status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        status_.dwCurrentState = state;
        // Stop and shut-down only while serving: a start runs to its end.
        status_.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
        status_.dwWin32ExitCode = win32_exit_code;
        status_.dwServiceSpecificExitCode = win32_exit_code == ERROR_SERVICE_SPECIFIC_ERROR ? failed_start_code : 0;
        status_.dwCheckPoint = pending ? status_.dwCheckPoint + 1 : 0;
        status_.dwWaitHint = wait_hint_ms;
        SetServiceStatus(handle_, &status_);
    }

    event_object& stop_;
    const service_body& body_;
    std::mutex mutex_;
    SERVICE_STATUS_HANDLE handle_ = nullptr;
    SERVICE_STATUS status_{};
    int exit_code_ = -1;
};

// ServiceMain takes no context of its own.
service* the_service = nullptr;

void WINAPI service_main(DWORD, wchar_t**) { the_service->main(); }

}  // namespace

std::optional<int> run_as_service(event_object& stop, const service_body& body) {
    service running(stop, body);
    the_service = &running;
    // A service of its own process may have any name: the control manager
    // ignores the one given here.
    wchar_t any_name[] = L"";
    SERVICE_TABLE_ENTRYW table[] = {{any_name, service_main}, {nullptr, nullptr}};
    const bool dispatched = StartServiceCtrlDispatcherW(table);
    const DWORD error = GetLastError();
    the_service = nullptr;
    if (dispatched) return running.exit_code();
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) return std::nullopt;
    // The control manager started the process but the dispatcher failed: only
    // the event log can tell anyone.
    write_to_event_log("Critical error: bug check");
    return -1;
}

}  // namespace ZT
