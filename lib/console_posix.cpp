#include "lib/console.h"

#include "lib/abort.h"
#include "lib/errors.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace ZT {

void write_standard_stream(standard_stream stream, std::string_view bytes) {
    const int fd = stream == standard_stream::output ? 1 : 2;
    constexpr std::size_t piece = 0x1000000;
    while (!bytes.empty()) {
        check_abort();
        const ssize_t written = ::write(fd, bytes.data(), std::min(bytes.size(), piece));
        if (written < 0) {
            if (errno == EINTR) continue;
            throw_last_file_error();
        }
        if (written == 0) throw file_access_error();
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::string_view console_line_end() { return "\n"; }

}  // namespace ZT
