// Output to the process's standard output and standard error. Writes are
// abortable: on a thread whose abort event is set a pending write ends with
// user_abort (on a Windows console, before the next piece).
#pragma once

#include <string_view>

namespace ZT {

enum class standard_stream { output, error };

// Writes all bytes: to a file, a pipe or a device unconverted; a Windows
// console gets the UTF-8 text as UTF-16 so that it shows every letter.
void write_standard_stream(standard_stream stream, std::string_view bytes);

// The line end of console lines on this platform: CR LF on Windows, LF on POSIX.
std::string_view console_line_end();

}  // namespace ZT
