#include "lib/socket_handle.h"

#include "lib/abort.h"
#include "lib/errors.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace ZT {

namespace {

// Without an abort event a wait without limit still wakes once an hour; a long
// limit is waited in pieces of at most that length.
constexpr double longest_slice_seconds = 3600.0;

// Byte buffers large enough for any socket address.
constexpr std::size_t address_buffer_size = 4096;

std::uint64_t to_microseconds(double seconds) {
    if (seconds <= 0) return 0;
    return static_cast<std::uint64_t>(std::floor(seconds * 1000000.0 + 0.5));
}

template <typename Query>
network_address query_address(socket_t socket, Query query) {
    alignas(sockaddr_storage) std::uint8_t buffer[address_buffer_size];
    socket_length length = sizeof buffer;
    if (query(socket, reinterpret_cast<sockaddr*>(buffer), &length) != 0) throw network_error();
    return network_address(buffer, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof buffer));
}

// Listens that are made to fail on this thread (fail_listens_for_tests).
thread_local int failing_listens = 0;

}  // namespace

void fail_listens_for_tests(int count) { failing_listens = count; }

socket_handle::~socket_handle() { close(); }

socket_handle::socket_handle(socket_handle&& other) noexcept
    : socket_(std::exchange(other.socket_, invalid_socket)),
      listening_(std::exchange(other.listening_, false)),
      timeout_(other.timeout_) {}

socket_handle& socket_handle::operator=(socket_handle&& other) noexcept {
    if (this != &other) {
        close();
        socket_ = std::exchange(other.socket_, invalid_socket);
        listening_ = std::exchange(other.listening_, false);
        timeout_ = other.timeout_;
    }
    return *this;
}

void socket_handle::open(int family, int type, int protocol) {
    close();
    const socket_t created = open_socket(family, type, protocol);
    if (created == invalid_socket) throw network_error();
    socket_ = created;
}

void socket_handle::bind(const network_address& address) {
    if (!try_bind(address)) throw network_error();
}

bool socket_handle::try_bind(const network_address& address) {
    return !address.empty() &&
           ::bind(socket_, address.as_sockaddr(), static_cast<socket_length>(address.size())) == 0;
}

void socket_handle::listen() {
    if (!try_listen()) throw network_error();
}

bool socket_handle::try_listen() {
    if (failing_listens > 0) {
        --failing_listens;
        return false;
    }
    listening_ = ::listen(socket_, SOMAXCONN) == 0;
    return listening_;
}

void socket_handle::set_no_delay() {
    const int on = 1;
    if (::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on) != 0)
        throw network_error();
}

socket_t socket_handle::accept() {
    const socket_t accepted = accept_pending();
    if (accepted == invalid_socket) throw network_error();
    return accepted;
}

socket_t socket_handle::accept_pending(network_address* peer) {
    alignas(sockaddr_storage) std::uint8_t buffer[address_buffer_size];
    socket_length length = sizeof buffer;
    const socket_t accepted = accept_socket(socket_, reinterpret_cast<sockaddr*>(buffer), &length);
    if (accepted == invalid_socket) {
        if (!is_lost_before_accept(last_socket_error())) throw network_error();
    } else if (peer) {
        *peer = network_address(buffer, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof buffer));
    }
    return accepted;
}

network_address socket_handle::local_address() const {
    return query_address(socket_, [](socket_t s, sockaddr* a, socket_length* l) { return ::getsockname(s, a, l); });
}

network_address socket_handle::peer_address() const {
    return query_address(socket_, [](socket_t s, sockaddr* a, socket_length* l) { return ::getpeername(s, a, l); });
}

bool socket_handle::start_connect(const network_address& address) {
    if (address.empty()) throw network_error();
    if (::connect(socket_, address.as_sockaddr(), static_cast<socket_length>(address.size())) == 0) return true;
    if (is_connect_pending(last_socket_error())) return false;
    throw network_error();
}

void socket_handle::check_connected() const {
    int error = 0;
    socket_length length = sizeof error;
    if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 || error != 0)
        throw network_error();
}

void socket_handle::wait_connected() {
    if (wait_ready(false, true, true, timeout_) == 0) throw network_error_timeout();
    // poll reports a refused connect as writable too; the pending error tells
    // the two apart.
    check_connected();
}

void socket_handle::shutdown(int how) {
    if (is_open()) ::shutdown(socket_, how);
}

void socket_handle::close() {
    if (!is_open()) return;
    // A listener has no connection to shut down.
    if (!listening_) ::shutdown(socket_, shutdown_both);
    close_socket(socket_);
    socket_ = invalid_socket;
    listening_ = false;
}

int socket_handle::wait(bool want_read, bool want_write) {
    const int ready = try_wait(want_read, want_write, timeout_);
    if (ready == 0) throw network_error_timeout();
    return ready;
}

int socket_handle::try_wait(bool want_read, bool want_write, double seconds) {
    return wait_ready(want_read, want_write, false, seconds);
}

// Time is counted by adding up the slices waited, not read from a clock, so a
// wait never ends early because the thread was slow to be scheduled. With an
// abort event installed even a zero limit waits one slice. Where the system
// watches the abort event beside the socket, an abortable wait is one slice up
// to its limit, so that an idle session costs no wake-ups; elsewhere it wakes
// every abort_slice_seconds to look at the event.
int socket_handle::wait_ready(bool want_read, bool want_write, bool connecting, double seconds) {
    if (!is_open()) throw network_error();
    const event_object* abort = current_abort_event();
    bool watch_abort = abort != nullptr && waits_watch_abort_event();
    double elapsed = 0;
    for (;;) {
        double slice;
        if (abort) check_abort();
        if (abort && (!watch_abort || seconds == 0)) {
            slice = abort_slice_seconds;
        } else if (seconds < 0) {
            slice = longest_slice_seconds;
        } else {
            slice = std::min(seconds - elapsed, longest_slice_seconds);
        }

        const int result = wait_slice(socket_, want_read, want_write, connecting, watch_abort ? abort : nullptr,
                                      to_microseconds(slice));
        if (result == slice_aborted) {
            check_abort();
            // Signalled without being set (a signal handler sets the system
            // object alone): the rest of this wait looks at it in slices.
            watch_abort = false;
            continue;
        }
        if (result != 0) {
            if (result & slice_error) throw network_error();
            const int flags = result & ((want_read ? readable : 0) | (want_write ? writable : 0));
            if (flags == 0) throw network_error();
            return flags;
        }

        elapsed += slice;
        if (seconds >= 0 && elapsed >= seconds) return 0;
    }
}

}  // namespace ZT
