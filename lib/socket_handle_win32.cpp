#include "lib/socket_handle.h"

#include "lib/errors.h"

#include <algorithm>
#include <mstcpip.h>

namespace ZT {

namespace {

// Unanswered keep-alive probes after which Windows (Vista and later) fails a
// connection; SIO_KEEPALIVE_VALS cannot change it.
constexpr unsigned long windows_keep_alive_probes = 10;

}  // namespace

// select takes sockets only: an abortable wait wakes in short slices to look at
// its abort event.
bool socket_handle::waits_watch_abort_event() { return false; }

// select with the sets asked for; empty sets are passed as null. The exception
// set holds the socket only while a background connect goes on, where it
// reports the connect's failure: at any other time it also reports urgent
// (out-of-band) data, which some clients send on the control connection before
// ABOR and which is no error of the connection.
int socket_handle::wait_slice(socket_t socket, bool want_read, bool want_write, bool connecting,
                              const event_object*, std::uint64_t microseconds) {
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
// on the port is still active (its orderly close not yet over: data not yet
// acknowledged, or a peer that has not closed its side), so a restart right
// after a stop can fail like a port in use until such connections of the last
// run have ended. Whether a connection in TIME_WAIT counts as active is not
// documented either way; a service's recovery action tries again.
void socket_handle::prepare_listener() {
    const BOOL on = TRUE;
    if (::setsockopt(socket_, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on) != 0)
        throw network_error();
}

// Nothing: a passive listener binds the specific address of its control
// connection, and Windows already refuses any other bind at that address and
// port, whatever its options; a bind on the wildcard address beside it gets no
// connection meant for the specific one. Exclusive use would add no safety and
// could keep a port from serving again while a download's closed connection
// lingers (the server closes first, so its side waits in TIME_WAIT), which the
// lowest-first port order needs at every PASV.
void socket_handle::prepare_passive_listener() {}

// SIO_KEEPALIVE_VALS works on every Windows version, where the options
// TCP_KEEPIDLE and TCP_KEEPINTVL need Windows 10 1709 (and Wine 8 refuses them
// with WSAENOPROTOOPT). It takes milliseconds. SO_KEEPALIVE is set as well, so
// that the socket reports keep-alive as on however it is asked.
void socket_handle::set_keep_alive(const keep_alive_times& times) {
    const BOOL on = TRUE;
    if (::setsockopt(socket_, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on) != 0)
        throw network_error();
    const unsigned long probing_ms = 1000UL * static_cast<unsigned long>(times.interval_seconds) *
                                     static_cast<unsigned long>(times.probes);
    tcp_keepalive values{};
    values.onoff = 1;
    values.keepalivetime = 1000UL * static_cast<unsigned long>(times.idle_seconds);
    values.keepaliveinterval = std::max(1UL, probing_ms / windows_keep_alive_probes);
    DWORD returned = 0;
    if (::WSAIoctl(socket_, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr) != 0)
        throw network_error();
}

}  // namespace ZT
