#include "app/console_line.h"

namespace ZT {

void basic_console_line::finish() {
    if (text_.empty()) return;
    std::string line = std::move(text_);
    text_.clear();
    line += console_line_end();
    write_standard_stream(stream_, line);
}

basic_console_line::~basic_console_line() {
    // A destructor must not throw: a console that cannot be written loses the line.
    try {
        finish();
    } catch (...) {
    }
}

}  // namespace ZT
