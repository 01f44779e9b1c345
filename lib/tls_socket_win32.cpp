// The Windows build has no TLS server yet: a configured certificate stops the
// start, and no encrypted stream can be made.
#include "lib/tls_socket.h"

#include <stdexcept>

namespace ZT {

struct tls_credentials::state {};
struct tls_socket::state {};

tls_credentials::tls_credentials(const std::string& path, const std::string&) {
    throw std::runtime_error("Encrypted connections (TLS) are not available in this build yet: " + path);
}

tls_credentials::~tls_credentials() = default;

tls_socket::tls_socket(const tls_credentials&, tcp_socket& transport, bool) : transport_(transport) {
    throw std::runtime_error("Encrypted connections (TLS) are not available in this build yet");
}

tls_socket::~tls_socket() = default;

std::size_t tls_socket::read(void*, std::size_t) { return 0; }
std::size_t tls_socket::read_some(void*, std::size_t) { return 0; }
std::size_t tls_socket::read_available(void*, std::size_t) { return 0; }
void tls_socket::wait_readable() {}
bool tls_socket::poll_readable() { return false; }
void tls_socket::write(const void*, std::size_t) {}
std::size_t tls_socket::write_some(const void*, std::size_t) { return 0; }
void tls_socket::wait_writable() {}
bool tls_socket::poll_writable() { return false; }
void tls_socket::connect(const std::string&, const std::string&, bool) {
    throw std::runtime_error("SSL not supported");
}
void tls_socket::finish() {}
void tls_socket::close() { transport_.close(); }

}  // namespace ZT
