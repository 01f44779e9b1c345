#include "sockets.h"

#include "bench_text.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ftpbench {

std::string system_error(const std::string& what) {
    const int code = errno;
    if (code == EAGAIN || code == EWOULDBLOCK || code == EINPROGRESS) return what + ": timed out";
    return what + ": " + std::strerror(code);
}

void set_timeouts(int fd, double seconds) {
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(seconds);
    limit.tv_usec = static_cast<suseconds_t>((seconds - static_cast<double>(limit.tv_sec)) * 1e6);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

socket_fd connect_to(const sockaddr_in& address, double timeout, bool no_delay) {
    socket_fd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0) throw bench_error(system_error("socket"));
    set_timeouts(sock.get(), timeout);
    if (no_delay) {
        const int one = 1;
        setsockopt(sock.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    for (;;) {
        if (::connect(sock.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return sock;
        if (errno != EINTR) break;
    }
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    throw bench_error(system_error(std::string("connect to ") + text + ":" + std::to_string(ntohs(address.sin_port))));
}

void send_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            throw bench_error(system_error("send"));
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
}

std::uint64_t receive_to_end(int fd, std::vector<char>& buffer, std::uint64_t* lines) {
    std::uint64_t total = 0;
    const int flags = lines ? 0 : MSG_TRUNC;
    for (;;) {
        const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), flags);
        if (got == 0) return total;
        if (got < 0) {
            if (errno == EINTR) continue;
            throw bench_error(system_error("receive on the data connection"));
        }
        total += static_cast<std::uint64_t>(got);
        if (lines) *lines += static_cast<std::uint64_t>(std::count(buffer.data(), buffer.data() + got, '\n'));
    }
}

void send_pattern(int fd, const std::vector<char>& buffer, std::uint64_t count) {
    while (count > 0) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(count, buffer.size()));
        send_all(fd, buffer.data(), piece);
        count -= piece;
    }
}

std::vector<char> pattern_buffer(std::size_t size) {
    std::vector<char> buffer(size);
    for (std::size_t i = 0; i < size; ++i) buffer[i] = static_cast<char>('a' + i % 26);
    return buffer;
}

sockaddr_in resolve_ipv4(const std::string& host, const std::string& port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int error = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (error != 0) throw bench_error("cannot resolve " + host + " port " + port + ": " + gai_strerror(error));
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    freeaddrinfo(found);
    return address;
}

}  // namespace ftpbench
