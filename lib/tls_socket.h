// Encrypted connections in the server's role: the credentials that one
// certificate gives, and a stream that carries TLS over an accepted TCP
// connection. TLS 1.2 and 1.3 only, with the platform's default ciphers.
//
// Ownership and threads: the credentials are loaded once at start-up and then
// shared, read-only, by every session. A tls_socket borrows its transport (the
// TCP connection beneath it), which must outlive it, and is used by one thread
// at a time, as the transport is. Every wait goes through the transport's
// socket_handle::wait, so it keeps the connection's timeout and ends with
// user_abort when the thread's abort event is set.
#pragma once

#include "lib/tcp_socket.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ZT {

// A certificate, its chain and its private key, read from a PKCS#12 file.
class tls_credentials {
public:
    // Reads `path` with `password` (may be empty). A file that cannot be read or
    // parsed, or a key that does not match the certificate, throws
    // std::runtime_error with a message that names the file. Where the platform
    // has no TLS server yet, every call throws so.
    tls_credentials(const std::string& path, const std::string& password);
    ~tls_credentials();
    tls_credentials(const tls_credentials&) = delete;
    tls_credentials& operator=(const tls_credentials&) = delete;

    struct state;
    state& get() const { return *state_; }

private:
    std::unique_ptr<state> state_;
};

// Follows the record framing of the bytes a TLS peer sends (a 5-byte header
// whose last two bytes give the length of the body that follows), so that an
// end of data can be told apart: between records it is a plain close, inside
// one it is a truncation.
class tls_record_tracker {
public:
    static constexpr std::size_t header_size = 5;

    void feed(const void* bytes, std::size_t count);
    // Whether the bytes fed so far end exactly at the end of a record.
    bool between_records() const { return header_seen_ == 0 && body_left_ == 0; }

private:
    std::uint8_t header_[header_size]{};
    std::size_t header_seen_ = 0;
    std::size_t body_left_ = 0;
};

// TLS over a borrowed TCP connection, the server taking the server's role. Reads
// and writes carry plaintext; sends go out in pieces of at most max_send_piece
// plaintext bytes. The peer's end of data is read as 0 bytes when it comes with
// a TLS close (close_notify) or between two records; a connection cut inside a
// record is a truncation and throws network_error.
class tls_socket : public tcp_socket {
public:
    // Runs the handshake on `transport` with `credentials`. The server offers to
    // resume earlier sessions of the same credentials (a client's data
    // connection may resume its control connection's session) and accepts a
    // client that does not. Without `issue_tickets` it sends no TLS 1.3 session
    // tickets after the handshake: a data connection, which its client resumes
    // from the control connection, and whose client may close it without reading
    // anything; unread tickets would make the client's system reset the
    // connection and cut off the end of an upload. A failed handshake throws
    // network_error; the waits throw as socket_handle::wait does.
    tls_socket(const tls_credentials& credentials, tcp_socket& transport, bool issue_tickets = true);
    // Sends the TLS close when the stream is still open, ignoring any failure;
    // the transport stays open.
    ~tls_socket() override;
    tls_socket(const tls_socket&) = delete;
    tls_socket& operator=(const tls_socket&) = delete;

    std::size_t read(void* buffer, std::size_t count) override;
    // Plaintext already decrypted, or one record when the connection has data.
    std::size_t read_some(void* buffer, std::size_t count) override;
    std::size_t read_available(void* buffer, std::size_t count) override;
    void wait_readable() override;
    bool poll_readable() override;
    void write(const void* buffer, std::size_t count) override;
    std::size_t write_some(const void* buffer, std::size_t count) override;
    void wait_writable() override;
    bool poll_writable() override;
    // Bytes do not pass unchanged: never a socket to move file data through.
    socket_handle* plain_socket() override { return nullptr; }

    // Only an accepted connection: connect throws std::runtime_error.
    void connect(const std::string& host, const std::string& service, bool use_tls = false) override;
    const socket_handle& handle() const override { return transport_.handle(); }
    socket_handle& handle() override { return transport_.handle(); }
    void set_timeout(double seconds) override { transport_.set_timeout(seconds); }
    bool is_open() const override { return transport_.is_open(); }
    // Sends the TLS close (close_notify); its failures throw as write does.
    void finish();
    // The TLS close when not sent yet (failures ignored), then the transport's
    // close. Never throws.
    void close() override;
    void shutdown(int how) override { transport_.shutdown(how); }

    struct state;

private:
    tcp_socket& transport_;
    std::unique_ptr<state> state_;
};

}  // namespace ZT
