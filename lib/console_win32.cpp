#include "lib/console.h"

#include "lib/abort.h"
#include "lib/errors.h"
#include "lib/text.h"

#include <algorithm>
#include <string>
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

// A console shows UTF-16 text; bytes written to it are read in the console's
// code page (the OEM one), which garbles every letter beyond ASCII. Pieces of
// at most 8192 units never split a surrogate pair. WriteConsoleW cannot be
// cancelled; the abort event is checked between pieces.
void write_console(HANDLE handle, std::string_view utf8) {
    const std::u16string text = utf8_to_utf16(utf8);
    constexpr std::size_t piece = 8192;
    std::size_t done = 0;
    while (done < text.size()) {
        check_abort();
        std::size_t count = std::min(text.size() - done, piece);
        if (done + count < text.size() && text[done + count - 1] >= 0xD800 && text[done + count - 1] < 0xDC00) --count;
        DWORD written = 0;
        SetLastError(0);
        if (!WriteConsoleW(handle, text.data() + done, static_cast<DWORD>(count), &written, nullptr))
            throw_last_file_error();
        if (written == 0) throw file_access_error();
        done += written;
    }
}

}  // namespace

// A handle that GetConsoleMode accepts is a console; a file, a pipe or the null
// device gets the UTF-8 bytes. Bytes that are not UTF-8 go out as they are.
void write_standard_stream(standard_stream stream, std::string_view bytes) {
    HANDLE handle = GetStdHandle(stream == standard_stream::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode) && is_valid_utf8(bytes)) {
        write_console(handle, bytes);
        return;
    }
    write_all_overlapped(handle, bytes.data(), bytes.size());
}

std::string_view console_line_end() { return "\r\n"; }

}  // namespace ZT
