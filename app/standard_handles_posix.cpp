#include "app/standard_handles.h"

#include "lib/errors.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace ZT {

void attach_null_device_to_closed_standard_handles() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // open takes the lowest free descriptor, which is fd itself when the
        // ones below it are open; dup2 covers the other case.
        const int null_fd = ::open("/dev/null", O_RDWR);
        if (null_fd < 0) throw_last_file_error();
        if (null_fd != fd) {
            const int moved = ::dup2(null_fd, fd);
            ::close(null_fd);
            if (moved < 0) throw file_access_error();
        }
    }
}

// No other process shares a console with the program here, and a terminal stays
// open when the program ends: nothing waits.
void keep_console_open_after_failure() {}

}  // namespace ZT
