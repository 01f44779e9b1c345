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

// SO_EXCLUSIVEADDRUSE; SO_REUSEADDR stays off, as it would let a second listener
// take the port. Windows refuses an exclusive bind while a connection accepted
// on the port is still active: one whose orderly close has not ended (data not
// yet acknowledged, or a peer that has not closed its side). A connection that
// ended its close and lingers in TIME_WAIT does not hold the port, so:
// - a restart right after a stop binds at once, unless a client of the last run
//   has not closed its side of a connection yet; the bind then fails as with a
//   port in use, until that connection ends;
// - a passive port serves again once the client has closed its side of the last
//   data connection on it, which clients do when they have read a download to
//   its end. A PASV that comes earlier finds the port busy and takes the next
//   one, as with any busy port, so the lowest-first order goes on working.
void socket_handle::prepare_listener() {
    const BOOL on = TRUE;
    if (::setsockopt(socket_, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on) != 0)
        throw network_error();
}

}  // namespace ZT
