// Explicit FTPS for the client: TLS over a connected socket, this side the
// TLS client. No certificate is checked (the benchmark's server has a
// throw-away self-signed one). The build with OpenSSL implements this in
// bench/tls/; bench/tls_absent.cpp implements it for a build without, where
// every use throws, so the rest of the client builds either way.
#pragma once

#include <cstddef>
#include <memory>

namespace ftpbench {

// Returns when this build speaks TLS; throws bench_error otherwise.
void require_tls();

// One TLS client connection over a socket that the caller owns and closes
// after this object is gone. Every wait is bounded by the socket's timeouts; a
// failure throws bench_error.
class tls_connection {
public:
    // The handshake over `fd`. With `resume`, offers that connection's session
    // as it is now (a data connection resuming its control connection's); a
    // server that does not resume it is accepted too. `role` names the
    // connection in messages ("data connection").
    tls_connection(int fd, const tls_connection* resume, const char* role);
    ~tls_connection();
    tls_connection(const tls_connection&) = delete;
    tls_connection& operator=(const tls_connection&) = delete;

    // Up to `size` bytes, at least one; 0 once the server has sent its
    // close_notify. A connection closed without it throws.
    std::size_t receive_some(char* data, std::size_t size);

    // Sends every byte.
    void send_all(const char* data, std::size_t size);

    // Sends close_notify: nothing more comes from this side.
    void close_notify();

private:
    struct state;
    std::unique_ptr<state> state_;
};

}  // namespace ftpbench
