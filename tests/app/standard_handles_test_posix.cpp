#include "app/standard_handles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ZT {
namespace {

// What a descriptor leads to: the null device, a pipe, or nothing at all.
enum class leads_to { null_device, pipe, closed, other };

leads_to descriptor_kind(int fd) {
    struct stat seen {};
    if (::fstat(fd, &seen) != 0) return leads_to::closed;
    if (S_ISFIFO(seen.st_mode)) return leads_to::pipe;
    struct stat null_device {};
    if (::stat("/dev/null", &null_device) == 0 && S_ISCHR(seen.st_mode) && seen.st_rdev == null_device.st_rdev)
        return leads_to::null_device;
    return leads_to::other;
}

// Runs the repair in a child process whose descriptors 0 to 2 are first set up
// as `closed` says (a closed one is closed, the others lead to a pipe), then
// reports through the exit status: bit fd is set when descriptor fd is not
// what it must be afterwards (the null device where it was closed, the same
// pipe where it was open), bit 3 when the next descriptor opened takes one of
// 0 to 2, bit 4 when the repair threw.
int repair_in_child(const bool (&closed)[3]) {
    const pid_t child = ::fork();
    if (child == 0) {
        int pipe_fds[2];
        if (::pipe(pipe_fds) != 0) ::_exit(64);
        for (int fd = 0; fd <= 2; ++fd) {
            if (closed[fd]) {
                ::close(fd);
            } else if (::dup2(pipe_fds[1], fd) < 0) {
                ::_exit(64);
            }
        }
        int status = 0;
        try {
            attach_null_device_to_closed_standard_handles();
        } catch (...) {
            status |= 16;
        }
        for (int fd = 0; fd <= 2; ++fd) {
            if (descriptor_kind(fd) != (closed[fd] ? leads_to::null_device : leads_to::pipe)) status |= 1 << fd;
        }
        const int next = ::open("/dev/null", O_RDONLY);
        if (next >= 0 && next <= 2) status |= 8;
        ::_exit(status);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST(standard_handles, closed_descriptors_get_the_null_device_and_open_ones_stay) {
    const bool cases[][3] = {
        {true, true, true}, {false, false, false}, {true, false, false}, {false, true, false},
        {false, false, true}, {false, true, true}, {true, false, true}, {true, true, false},
    };
    for (const auto& closed : cases) {
        const std::string which = std::string("closed: ") + (closed[0] ? "in " : "") + (closed[1] ? "out " : "") +
                                  (closed[2] ? "err" : "");
        EXPECT_EQ(repair_in_child(closed), 0) << which;
    }
}

}  // namespace
}  // namespace ZT
