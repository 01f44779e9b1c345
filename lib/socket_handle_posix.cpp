#include "lib/socket_handle.h"

#include "lib/errors.h"
#include "lib/event.h"

#include <cerrno>
#include <ctime>
#include <poll.h>

namespace ZT {

// poll reports an error condition (a refused connect, for example) as
// POLLERR/POLLNVAL whether or not a connect goes on; urgent data would be
// POLLPRI, which is not asked for. POLLHUP counts as readable, so that a reader
// sees the end of data through recv; a hang-up while only writing is an error.
bool socket_handle::waits_watch_abort_event() { return true; }

int socket_handle::wait_slice(socket_t socket, bool want_read, bool want_write, bool /*connecting*/,
                              const event_object* abort, std::uint64_t microseconds) {
    // The socket, and the abort event's eventfd beside it when given.
    pollfd entries[2]{};
    entries[0].fd = socket;
    entries[0].events = static_cast<short>((want_read ? POLLIN : 0) | (want_write ? POLLOUT : 0));
    entries[1].fd = abort ? static_cast<int>(abort->handle()) : -1;
    entries[1].events = POLLIN;

    timespec limit{};
    limit.tv_sec = static_cast<time_t>(microseconds / 1000000);
    limit.tv_nsec = static_cast<long>(microseconds % 1000000) * 1000L;

    int count;
    do {
        entries[0].revents = 0;
        entries[1].revents = 0;
        count = ::ppoll(entries, abort ? 2 : 1, &limit, nullptr);
    } while (count < 0 && errno == EINTR);
    if (count < 0) throw network_error();
    const short events = entries[0].revents;
    if (count == 0) return 0;
    if (events == 0) return entries[1].revents != 0 ? slice_aborted : 0;

    int result = slice_ready;
    if (events & (POLLERR | POLLNVAL)) result |= slice_error;
    if (want_read && (events & (POLLIN | POLLHUP))) result |= readable;
    if (want_write && (events & POLLOUT)) result |= writable;
    if ((events & POLLHUP) && !want_read) result |= slice_error;
    return result;
}

void socket_handle::prepare_listener() {
    const int on = 1;
    if (::setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) throw network_error();
}

void socket_handle::prepare_passive_listener() { prepare_listener(); }

void socket_handle::set_keep_alive(const keep_alive_times& times) {
    const struct {
        int level, name, value;
    } options[] = {
        {SOL_SOCKET, SO_KEEPALIVE, 1},
        {IPPROTO_TCP, TCP_KEEPIDLE, times.idle_seconds},
        {IPPROTO_TCP, TCP_KEEPINTVL, times.interval_seconds},
        {IPPROTO_TCP, TCP_KEEPCNT, times.probes},
    };
    for (const auto& option : options) {
        if (::setsockopt(socket_, option.level, option.name, &option.value, sizeof option.value) != 0)
            throw network_error();
    }
}

}  // namespace ZT
