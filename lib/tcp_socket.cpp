#include "lib/tcp_socket.h"

#include "lib/abort.h"
#include "lib/errors.h"

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <numeric>
#include <stdexcept>
#include <utility>

namespace ZT {

namespace {

// One receive call takes at most this many bytes (Winsock lengths are int).
constexpr std::size_t max_receive_piece = 0x40000000;

// One connect attempt to one resolved address. Whatever fails leaves the socket
// closed; a network failure of any kind becomes network_error_connect.
void connect_to_address(tcp_socket& socket, const address_info& target) {
    socket_handle& handle = socket.handle();
    try {
        handle.close();
        check_abort();
        handle.open(target.family, target.socket_type, target.protocol);
        if (target.address.empty()) throw network_error();
        check_abort();
        if (!handle.start_connect(target.address)) handle.wait_connected();
    } catch (const network_error&) {
        handle.close();
        throw network_error_connect();
    } catch (...) {
        handle.close();
        throw;
    }
}

}  // namespace

tcp_socket::tcp_socket(socket_t accepted) : handle_(accepted) {}

tcp_socket::tcp_socket(tcp_socket&& other) noexcept
    : handle_(std::move(other.handle_)),
      ahead_(std::move(other.ahead_)),
      ahead_begin_(std::exchange(other.ahead_begin_, 0)),
      ahead_end_(std::exchange(other.ahead_end_, 0)) {}

tcp_socket& tcp_socket::operator=(tcp_socket&& other) noexcept {
    handle_ = std::move(other.handle_);
    ahead_ = std::move(other.ahead_);
    ahead_begin_ = std::exchange(other.ahead_begin_, 0);
    ahead_end_ = std::exchange(other.ahead_end_, 0);
    return *this;
}

std::size_t tcp_socket::receive_from_socket(void* buffer, std::size_t count, bool& ended) {
    ended = false;
    const auto piece = static_cast<int>(std::min(count, max_receive_piece));
    const auto got = ::recv(handle_.native(), static_cast<char*>(buffer), piece, 0);
    if (got < 0) {
        if (is_would_block(last_socket_error())) return 0;
        throw network_error();
    }
    ended = got == 0;
    return static_cast<std::size_t>(got);
}

std::size_t tcp_socket::receive(void* buffer, std::size_t count, bool& ended) {
    ended = false;
    if (count == 0) return 0;
    if (buffered() == 0) {
        if (count >= read_ahead_size) return receive_from_socket(buffer, count, ended);
        // A reader that takes its input in small bytes (the command loop) may
        // never wait while a client keeps sending: it sees a server stop here.
        check_abort();
        if (!ahead_) ahead_ = std::make_unique<char[]>(read_ahead_size);
        ahead_begin_ = 0;
        ahead_end_ = receive_from_socket(ahead_.get(), read_ahead_size, ended);
        if (ahead_end_ == 0) return 0;
    }
    const std::size_t taken = std::min(count, buffered());
    std::memcpy(buffer, ahead_.get() + ahead_begin_, taken);
    ahead_begin_ += taken;
    return taken;
}

std::size_t tcp_socket::read_some(void* buffer, std::size_t count) {
    bool ended;
    return receive(buffer, count, ended);
}

// Each of these reads first and waits only when nothing has arrived: a wait
// that finds nothing to receive waits again, and only the peer's end of data
// ends a read early.
std::size_t tcp_socket::read_available(void* buffer, std::size_t count) {
    if (count == 0) return 0;
    for (;;) {
        bool ended;
        const std::size_t got = receive(buffer, count, ended);
        if (got > 0 || ended) return got;
        wait_readable();
    }
}

std::size_t tcp_socket::read(void* buffer, std::size_t count) {
    auto* bytes = static_cast<char*>(buffer);
    std::size_t total = 0;
    while (total < count) {
        bool ended;
        const std::size_t got = receive(bytes + total, count - total, ended);
        if (ended) break;
        if (got == 0) wait_readable();
        total += got;
    }
    return total;
}

std::size_t tcp_socket::read_exactly(void* buffer, std::size_t count) {
    auto* bytes = static_cast<char*>(buffer);
    std::size_t total = 0;
    while (total < count) {
        bool ended = false;
        const std::size_t got = buffered() > 0 ? receive(bytes + total, count - total, ended)
                                               : receive_from_socket(bytes + total, count - total, ended);
        if (ended) break;
        if (got == 0) handle_.wait(true, false);
        total += got;
    }
    return total;
}

void tcp_socket::wait_readable() {
    if (buffered() == 0) handle_.wait(true, false);
}

bool tcp_socket::poll_readable() { return buffered() > 0 || handle_.try_wait(true, false, 0) != 0; }

std::size_t tcp_socket::write_some(const void* buffer, std::size_t count) {
    if (count == 0) return 0;
    const auto piece = static_cast<int>(std::min(count, max_send_piece));
    const auto sent = ::send(handle_.native(), static_cast<const char*>(buffer), piece, send_flags);
    if (sent < 0) {
        if (is_would_block(last_socket_error())) return 0;
        throw network_error();
    }
    return static_cast<std::size_t>(sent);
}

void tcp_socket::write(const void* buffer, std::size_t count) {
    const auto* bytes = static_cast<const char*>(buffer);
    while (count > 0) {
        std::size_t sent = write_some(bytes, count);
        if (sent == 0) {
            // Full: wait until it takes more. Nothing taken after that is an error.
            wait_writable();
            sent = write_some(bytes, count);
            if (sent == 0) throw network_error();
        }
        bytes += sent;
        count -= sent;
    }
}

void tcp_socket::wait_writable() { handle_.wait(false, true); }

bool tcp_socket::poll_writable() { return handle_.try_wait(false, true, 0) != 0; }

void tcp_socket::connect(const std::string& host, const std::string& service, bool use_tls) {
    if (use_tls) throw std::runtime_error("SSL not supported");
    connect_to_host(*this, host, service);
}

void connect_to_host(tcp_socket& socket, const std::string& host, const std::string& service) {
    std::vector<address_info> candidates;
    try {
        candidates = resolve_address(host, service, AF_UNSPEC);
    } catch (const network_error&) {
        throw network_error_connect();
    }
    connect_to_any(socket, candidates);
}

void connect_to_any(tcp_socket& socket, const std::vector<address_info>& candidates) {
    const std::size_t n = candidates.size();
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    for (std::size_t i = 0; i < n; ++i) std::swap(order[i], order[static_cast<std::size_t>(std::rand()) % n]);

    for (const std::size_t index : order) {
        const address_info& candidate = candidates[index];
        if (candidate.family != AF_INET && candidate.family != AF_INET6) continue;
        check_abort();
        try {
            connect_to_address(socket, candidate);
            return;
        } catch (const network_error&) {
            // this address failed; the next one may work
        }
    }
    throw network_error_connect();
}

}  // namespace ZT
