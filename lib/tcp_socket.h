// A TCP connection as a readable and writable byte stream, and the connect
// operation that tries every resolved address of a host in random order.
#pragma once

#include "lib/network_address.h"
#include "lib/socket_handle.h"
#include "lib/stream.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace ZT {

// Largest piece handed to one send call.
constexpr std::size_t max_send_piece = 16384;

class tcp_socket : public readable_stream, public writable_stream {
public:
    tcp_socket() = default;
    // Adopts an accepted connection (non-blocking, as every accepted socket is).
    explicit tcp_socket(socket_t accepted);
    tcp_socket(tcp_socket&& other) noexcept;
    tcp_socket& operator=(tcp_socket&& other) noexcept;
    tcp_socket(const tcp_socket&) = delete;
    tcp_socket& operator=(const tcp_socket&) = delete;
    ~tcp_socket() override = default;

    // Reads of fewer than read_ahead_size bytes (a control connection's line
    // reader asks for one byte at a time) take what the connection has, up to
    // that size, into a buffer of the stream and are served from it; bytes left
    // there are the next read's, so nothing is lost between readers of the
    // stream. Every other read goes to the socket directly once that buffer is
    // empty. Each control connection keeps this buffer while it lasts, so it is
    // small: a kilobyte holds a few dozen commands that a client sends ahead.
    static constexpr std::size_t read_ahead_size = 1024;

    // Waits and reads until `count` bytes are in or the peer ends the data.
    std::size_t read(void* buffer, std::size_t count) override;
    // As read, but straight from the socket, never through the read-ahead
    // buffer: the system keeps every byte past `count` for whoever reads next,
    // even a reader of the raw socket. Bytes already in that buffer come first.
    std::size_t read_exactly(void* buffer, std::size_t count);
    // One receive: 0 when nothing is available now or the peer ended the data.
    std::size_t read_some(void* buffer, std::size_t count) override;
    // Waits (within the timeout) until something arrives; 0 only at the peer's
    // end of data.
    std::size_t read_available(void* buffer, std::size_t count) override;
    void wait_readable() override;
    bool poll_readable() override;

    // Sends until everything is written, waiting only while the connection
    // takes nothing.
    void write(const void* buffer, std::size_t count) override;
    // One send of at most max_send_piece bytes; 0 when nothing fits now.
    std::size_t write_some(const void* buffer, std::size_t count) override;
    void wait_writable() override;
    bool poll_writable() override;
    socket_handle* plain_socket() override { return buffered() == 0 ? &handle_ : nullptr; }

    // Connects to `service` on `host` through connect_to_host. TLS is not offered:
    // use_tls throws std::runtime_error "SSL not supported".
    virtual void connect(const std::string& host, const std::string& service, bool use_tls = false);
    virtual const socket_handle& handle() const { return handle_; }
    virtual socket_handle& handle() { return handle_; }
    virtual void set_timeout(double seconds) { handle_.set_timeout(seconds); }
    virtual bool is_open() const { return handle_.is_open(); }
    virtual void close() { handle_.close(); }
    // shutdown with shutdown_receive, shutdown_send or shutdown_both when open;
    // never raises an error.
    virtual void shutdown(int how) { handle_.shutdown(how); }

private:
    // One receive, served from the read-ahead buffer first; `ended` tells the
    // peer's end of data apart from "nothing yet".
    std::size_t receive(void* buffer, std::size_t count, bool& ended);
    // One recv system call.
    std::size_t receive_from_socket(void* buffer, std::size_t count, bool& ended);
    std::size_t buffered() const { return ahead_end_ - ahead_begin_; }

    socket_handle handle_;
    std::unique_ptr<char[]> ahead_;  // allocated by the first small read
    std::size_t ahead_begin_ = 0;
    std::size_t ahead_end_ = 0;
};

// Resolves `host` and `service` (any family) and connects `socket` to one of the
// answers through connect_to_any. A resolution failure throws
// network_error_connect; user_abort passes through unchanged.
void connect_to_host(tcp_socket& socket, const std::string& host, const std::string& service);

// Tries the candidates in a random order (rand()), skipping every family other
// than AF_INET and AF_INET6, until one connects. Each try closes the socket,
// opens a new non-blocking one and waits for the connect within the socket's
// timeout. Throws network_error_connect when none connects, and user_abort
// unchanged when the thread's abort event is set.
void connect_to_any(tcp_socket& socket, const std::vector<address_info>& candidates);

}  // namespace ZT
