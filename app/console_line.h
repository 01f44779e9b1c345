// One line of console output. Text is appended while the object lives; when it is
// destroyed (or finished) the line is written with its line end and the object
// becomes empty. An empty line is never written. Only the main thread writes to
// the console, so there is no lock.
#pragma once

#include "lib/console.h"

#include <string>
#include <string_view>

namespace ZT {

class basic_console_line {
public:
    basic_console_line(const basic_console_line&) = delete;
    basic_console_line& operator=(const basic_console_line&) = delete;

    basic_console_line& operator<<(std::string_view text) {
        text_ += text;
        return *this;
    }

    // Writes the line now; a write failure is reported to the caller.
    void finish();

protected:
    explicit basic_console_line(standard_stream stream) : stream_(stream) {}
    ~basic_console_line();

private:
    standard_stream stream_;
    std::string text_;
};

// A line on standard output.
class console_line : public basic_console_line {
public:
    console_line() : basic_console_line(standard_stream::output) {}
    explicit console_line(std::string_view text) : console_line() { *this << text; }
};

// A line on standard error.
class error_line : public basic_console_line {
public:
    error_line() : basic_console_line(standard_stream::error) {}
    explicit error_line(std::string_view text) : error_line() { *this << text; }
};

}  // namespace ZT
