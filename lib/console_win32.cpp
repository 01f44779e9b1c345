#include "lib/console.h"

#include "lib/abort.h"
#include "lib/errors.h"

#include <algorithm>
#include <windows.h>

namespace ZT {

namespace {

// One write that the thread's abort event can cancel. The offset asks for
// "append at the end", so that output redirected into a file is never written
// over; consoles and pipes ignore it.
void write_overlapped(HANDLE handle, HANDLE event, const char* buffer, DWORD count) {
    check_abort();
    if (count == 0) return;
    OVERLAPPED overlapped{};
    overlapped.Offset = 0xFFFFFFFF;
    overlapped.OffsetHigh = 0xFFFFFFFF;
    overlapped.hEvent = event;
    ResetEvent(event);
    SetLastError(0);
    DWORD written = 0;
    if (WriteFile(handle, buffer, count, &written, &overlapped)) {
        if (written != count) throw file_access_error();
        return;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) throw_file_error(error);

    event_object* abort_event = current_abort_event();
    DWORD woke;
    if (abort_event) {
        HANDLE handles[] = {event, reinterpret_cast<HANDLE>(abort_event->handle())};
        woke = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    } else {
        woke = WaitForSingleObject(event, INFINITE);
    }
    if (woke == WAIT_OBJECT_0) {
        if (!GetOverlappedResult(handle, &overlapped, &written, TRUE)) {
            const DWORD failure = GetLastError();
            CancelIo(handle);
            throw_file_error(failure);
        }
        if (written != count) {
            CancelIo(handle);
            throw file_access_error();
        }
        return;
    }
    CancelIo(handle);
    if (woke == WAIT_OBJECT_0 + 1) throw user_abort();
    throw file_access_error();
}

void write_all_overlapped(HANDLE handle, const char* buffer, std::size_t count) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!event) throw bug_check();
    try {
        constexpr std::size_t piece = 0x1000000;
        while (count > 0) {
            const std::size_t now = std::min(count, piece);
            write_overlapped(handle, event, buffer, static_cast<DWORD>(now));
            buffer += now;
            count -= now;
        }
    } catch (...) {
        CloseHandle(event);
        throw;
    }
    CloseHandle(event);
}

}  // namespace

void write_standard_stream(standard_stream stream, std::string_view bytes) {
    HANDLE handle = GetStdHandle(stream == standard_stream::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    write_all_overlapped(handle, bytes.data(), bytes.size());
}

std::string_view console_line_end() { return "\r\n"; }

}  // namespace ZT
