// The client's sockets: owned descriptors, every operation bounded by a
// timeout, and the send and receive loops of the data connections.
#pragma once

#include <netinet/in.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ftpbench {

// The text of errno for `what` ("what: timed out" for a socket timeout).
std::string system_error(const std::string& what);

// One socket descriptor, closed with its owner.
class socket_fd {
public:
    socket_fd() = default;
    explicit socket_fd(int fd) : fd_(fd) {}
    socket_fd(socket_fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    socket_fd& operator=(socket_fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    socket_fd(const socket_fd&) = delete;
    socket_fd& operator=(const socket_fd&) = delete;
    ~socket_fd() { reset(); }

    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// Every receive, send and connect on the socket gives up after `seconds`.
void set_timeouts(int fd, double seconds);

// A connected TCP socket to the address; the connect is bounded by the
// timeout (Linux applies the send timeout to a blocking connect).
socket_fd connect_to(const sockaddr_in& address, double timeout, bool no_delay);

// Sends every byte, or throws bench_error.
void send_all(int fd, const char* data, std::size_t size);

// Receives until the peer closes; returns the byte count. When `lines` is
// given the bytes come into `buffer`, over and over, and the line feeds seen
// are added to it; otherwise the kernel discards them without copying them
// out (MSG_TRUNC on a TCP socket), which saves the client a copy per byte.
std::uint64_t receive_to_end(int fd, std::vector<char>& buffer, std::uint64_t* lines = nullptr);

// Sends `count` bytes of the buffer's pattern, one whole buffer per call at most.
void send_pattern(int fd, const std::vector<char>& buffer, std::uint64_t count);

// A buffer of `size` bytes of a repeated a-z pattern.
std::vector<char> pattern_buffer(std::size_t size);

// The first IPv4 address of the host and port; throws bench_error when there is none.
sockaddr_in resolve_ipv4(const std::string& host, const std::string& port);

}  // namespace ftpbench
