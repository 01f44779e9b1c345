#include "lib/socket_handle.h"

#include "lib/errors.h"

namespace ZT {

// select with the sets asked for; empty sets are passed as null. The exception
// set holds the socket only while a background connect goes on, where it
// reports the connect's failure: at any other time it also reports urgent
// (out-of-band) data, which some clients send on the control connection before
// ABOR and which is no error of the connection.
int socket_handle::wait_slice(socket_t socket, bool want_read, bool want_write, bool connecting,
                              std::uint64_t microseconds) {
    fd_set read_set, write_set, exception_set;
    FD_ZERO(&read_set);
    FD_ZERO(&write_set);
    FD_ZERO(&exception_set);
    if (want_read) FD_SET(socket, &read_set);
    if (want_write) FD_SET(socket, &write_set);
    if (connecting) FD_SET(socket, &exception_set);

    timeval limit;
    limit.tv_sec = static_cast<long>(microseconds / 1000000);
    limit.tv_usec = static_cast<long>(microseconds % 1000000);

    const int count = ::select(0, want_read ? &read_set : nullptr, want_write ? &write_set : nullptr,
                               connecting ? &exception_set : nullptr, &limit);
    if (count < 0) throw network_error();
    if (count == 0) return 0;

    int result = slice_ready;
    if (connecting && FD_ISSET(socket, &exception_set)) result |= slice_error;
    if (want_read && FD_ISSET(socket, &read_set)) result |= readable;
    if (want_write && FD_ISSET(socket, &write_set)) result |= writable;
    return result;
}

// Windows already lets a listener bind over connections in TIME_WAIT; its
// SO_REUSEADDR would also let a second listener take the port, so it stays off.
void socket_handle::allow_rebinding() {}

}  // namespace ZT
