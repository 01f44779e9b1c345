#include "app/standard_handles.h"

#include "app/console_line.h"
#include "lib/errors.h"

#include <windows.h>

namespace ZT {

namespace {

constexpr DWORD standard_handle_ids[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};

// A process started without a console (a scheduled task, a service) may get no
// standard handles at all, INVALID_HANDLE_VALUE, or values that name nothing
// and that a later handle of the program would take.
bool names_nothing(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return true;
    SetLastError(0);
    return GetFileType(handle) == FILE_TYPE_UNKNOWN && GetLastError() == ERROR_INVALID_HANDLE;
}

}  // namespace

void attach_null_device_to_closed_standard_handles() {
    for (const DWORD id : standard_handle_ids) {
        if (!names_nothing(GetStdHandle(id))) continue;
        SetLastError(0);
        HANDLE null_device = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr);
        if (null_device == INVALID_HANDLE_VALUE) throw_last_file_error();
        if (!SetStdHandle(id, null_device)) {
            CloseHandle(null_device);
            throw file_access_error();
        }
    }
}

void keep_console_open_after_failure() {
    console_facts console;
    DWORD processes[2];
    console.processes = GetConsoleProcessList(processes, 2);
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    console.input_is_console = input != nullptr && input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode);
    // Whether the window is shown is asked of the start, not of the window:
    // under a pseudo-console (Windows Terminal, the default terminal of Windows
    // 11) GetConsoleWindow gives a stand-in window whose visibility need not be
    // the terminal's, and Wine's console on a terminal has a window that is
    // never shown. A hidden start (Start-Process -WindowStyle Hidden, a script
    // host's Run with 0) passes SW_HIDE, which is what hides the window.
    console.has_window = GetConsoleWindow() != nullptr;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    console.started_hidden = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 && startup.wShowWindow == SW_HIDE;
    USEROBJECTFLAGS station{};
    HWINSTA window_station = GetProcessWindowStation();
    // A window station that cannot be asked counts as one with a display, as it was before.
    console.display_visible = window_station == nullptr ||
                              !GetUserObjectInformationW(window_station, UOI_FLAGS, &station, sizeof station, nullptr) ||
                              (station.dwFlags & WSF_VISIBLE) != 0;
    if (!waits_for_enter_after_failure(console)) return;

    error_line("Press Enter to close this window.");
    // The console reads a whole line; a read that ends empty or fails means the
    // input has gone (Ctrl+C, the window closing).
    wchar_t buffer[256];
    for (;;) {
        DWORD read = 0;
        if (!ReadConsoleW(input, buffer, 256, &read, nullptr) || read == 0) return;
        for (DWORD i = 0; i < read; ++i) {
            if (buffer[i] == L'\r' || buffer[i] == L'\n') return;
        }
    }
}

}  // namespace ZT
