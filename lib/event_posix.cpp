#include "lib/event.h"

#include "lib/errors.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <iterator>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace ZT {

namespace {

int as_fd(os_handle h) { return static_cast<int>(h); }

// Milliseconds left until `deadline`, clamped to what poll accepts.
int remaining_ms(std::uint64_t deadline) {
    const std::uint64_t now = tick_count_ms();
    if (now >= deadline) return 0;
    const std::uint64_t left = deadline - now;
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

}  // namespace

event_object::event_object() : waitable(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (handle_ < 0) throw bug_check();
    try {
        state_ = std::make_shared<shared_state>();
    } catch (...) {
        ::close(as_fd(handle_));
        throw;
    }
}

event_object::~event_object() { ::close(as_fd(handle_)); }

void event_object::signal() {
    const std::uint64_t one = 1;
    // A full counter (EAGAIN) is still set, so the result does not matter.
    [[maybe_unused]] const ssize_t written = ::write(as_fd(handle_), &one, sizeof one);
}

void event_object::clear() {
    std::uint64_t value;
    while (::read(as_fd(handle_), &value, sizeof value) > 0) {
    }
}

std::unique_ptr<event_object> event_object::duplicate() const {
    const int copy = ::fcntl(as_fd(handle_), F_DUPFD_CLOEXEC, 0);
    if (copy < 0) throw bug_check();
    try {
        return std::unique_ptr<event_object>(new event_object(copy, state_));
    } catch (...) {
        ::close(copy);
        throw;
    }
}

int wait_for_handles(const os_handle* handles, std::size_t count, std::uint32_t milliseconds) {
    // A short list stays on the stack, so that waiting never needs memory.
    pollfd stack_fds[8];
    std::vector<pollfd> heap_fds;
    pollfd* fds = stack_fds;
    if (count > std::size(stack_fds)) {
        heap_fds.resize(count);
        fds = heap_fds.data();
    }
    for (std::size_t i = 0; i < count; ++i) fds[i] = pollfd{as_fd(handles[i]), POLLIN, 0};
    const bool forever = milliseconds == infinite_ms;
    const std::uint64_t deadline = tick_count_ms() + milliseconds;
    for (;;) {
        const int result = ::poll(fds, count, forever ? -1 : remaining_ms(deadline));
        if (result > 0) {
            for (std::size_t i = 0; i < count; ++i)
                if (fds[i].revents & POLLIN) return static_cast<int>(i);
            return -1;
        }
        if (result == 0) {
            if (forever || remaining_ms(deadline) == 0) return -1;
            continue;  // a wait longer than poll can express goes on
        }
        if (errno != EINTR) return -1;
    }
}

void system_sleep(std::uint32_t milliseconds) {
    if (milliseconds == infinite_ms) {
        for (;;) ::pause();
    }
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

std::uint64_t tick_count_ms() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
}

}  // namespace ZT
