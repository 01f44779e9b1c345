// The TLS layer of a build without OpenSSL (bench/*.cpp alone, no -lssl):
// --tls is refused at the start, and nothing else reaches this.
#include "tls_layer.h"

#include "bench_text.h"

namespace ftpbench {

namespace {

[[noreturn]] void no_tls() {
    throw bench_error(
        "this ftpbench was built without TLS (scripts/bench builds one with it, from bench/tls/ with -lssl -lcrypto)");
}

}  // namespace

struct tls_connection::state {};

void require_tls() {
    no_tls();
}

tls_connection::tls_connection(int, const tls_connection*, const char*) {
    no_tls();
}

tls_connection::~tls_connection() = default;

std::size_t tls_connection::receive_some(char*, std::size_t) {
    no_tls();
}

void tls_connection::send_all(const char*, std::size_t) {
    no_tls();
}

void tls_connection::close_notify() {
    no_tls();
}

}  // namespace ftpbench
