// TLS over OpenSSL 3. OpenSSL reads and writes the connection through a BIO of
// our own over the transport stream, so that every wait is the transport's
// (abortable, within its timeout) and bytes the transport read ahead are not
// lost. The BIO blocks as the stream does; a failure inside it is kept and
// thrown again once OpenSSL has returned, never through OpenSSL's frames.
#include "lib/tls_socket.h"

#include "lib/errors.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <climits>
#include <exception>
#include <stdexcept>
#include <utility>

namespace ZT {

namespace {

// The oldest error OpenSSL queued on this thread, as text; the queue is cleared.
std::string openssl_reason() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "unknown error";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

// What the BIO knows of its transport.
struct transport_link {
    tcp_socket* transport;
    std::exception_ptr failure;  // the first failure of a read or write
    tls_record_tracker records;   // of the bytes read
    bool ended = false;           // the peer ended its data
};

transport_link& link_of(BIO* bio) { return *static_cast<transport_link*>(BIO_get_data(bio)); }

int link_read(BIO* bio, char* buffer, int size) {
    transport_link& link = link_of(bio);
    BIO_clear_retry_flags(bio);
    if (link.failure || size <= 0) return -1;
    if (link.ended) return 0;
    try {
        const std::size_t got = link.transport->read_available(buffer, static_cast<std::size_t>(size));
        if (got == 0) {
            link.ended = true;
            return 0;
        }
        link.records.feed(buffer, got);
        return static_cast<int>(got);
    } catch (...) {
        link.failure = std::current_exception();
        return -1;
    }
}

int link_write(BIO* bio, const char* buffer, int size) {
    transport_link& link = link_of(bio);
    BIO_clear_retry_flags(bio);
    if (link.failure || size < 0) return -1;
    try {
        link.transport->write(buffer, static_cast<std::size_t>(size));
        return size;
    } catch (...) {
        link.failure = std::current_exception();
        return -1;
    }
}

long link_control(BIO* bio, int command, long, void*) {
    switch (command) {
    case BIO_CTRL_FLUSH:
        return 1;
    case BIO_CTRL_EOF:
        return link_of(bio).ended ? 1 : 0;
    default:
        return 0;
    }
}

int link_create(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

// The BIO method, made once for the process.
BIO_METHOD* link_method() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tarvex transport");
        if (!made || !BIO_meth_set_read(made, link_read) || !BIO_meth_set_write(made, link_write) ||
            !BIO_meth_set_ctrl(made, link_control) || !BIO_meth_set_create(made, link_create))
            throw bug_check();
        return made;
    }();
    return method;
}

// The server's own session identifier context, so that sessions it issued may
// be resumed on any of its connections.
constexpr unsigned char session_context[] = "tarvex";

}  // namespace

struct tls_credentials::state {
    SSL_CTX* context = nullptr;
    ~state() { SSL_CTX_free(context); }
};

tls_credentials::tls_credentials(const std::string& path, const std::string& password)
    : state_(std::make_unique<state>()) {
    ERR_clear_error();
    const auto fail = [&path](const std::string& what) {
        throw std::runtime_error(what + " " + path + ": " + openssl_reason());
    };
    BIO* file = BIO_new_file(path.c_str(), "rb");
    if (!file) fail("Cannot read the TLS certificate");
    PKCS12* bundle = d2i_PKCS12_bio(file, nullptr);
    BIO_free(file);
    if (!bundle) fail("Cannot read the TLS certificate");
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
    STACK_OF(X509)* chain = nullptr;
    const int parsed = PKCS12_parse(bundle, password.c_str(), &key, &certificate, &chain);
    PKCS12_free(bundle);
    // Frees the parts whatever happens below.
    const std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key_owner(key, EVP_PKEY_free);
    const std::unique_ptr<X509, void (*)(X509*)> certificate_owner(certificate, X509_free);
    const auto free_chain = [](STACK_OF(X509) * held) { sk_X509_pop_free(held, X509_free); };
    const std::unique_ptr<STACK_OF(X509), decltype(free_chain)> chain_owner(chain, free_chain);
    if (!parsed) fail("Cannot read the TLS certificate (or its password is wrong)");
    if (!key || !certificate) fail("No certificate with a private key in");

    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (!context) fail("Cannot use the TLS certificate");
    state_->context = context;
    if (!SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) ||
        !SSL_CTX_set_session_id_context(context, session_context, sizeof session_context - 1) ||
        SSL_CTX_use_certificate(context, certificate) != 1)
        fail("Cannot use the TLS certificate");
    for (int i = 0; chain && i < sk_X509_num(chain); ++i) {
        if (!SSL_CTX_add1_chain_cert(context, sk_X509_value(chain, i))) fail("Cannot use the certificate chain of");
    }
    if (SSL_CTX_use_PrivateKey(context, key) != 1 || SSL_CTX_check_private_key(context) != 1)
        fail("The private key does not match the certificate in");
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_SERVER);
}

tls_credentials::~tls_credentials() = default;

struct tls_socket::state {
    SSL* ssl = nullptr;
    transport_link link;
    bool close_sent = false;
    ~state() { SSL_free(ssl); }

    // Throws what the BIO kept, or network_error for any other failure of an
    // OpenSSL call that returned `result`.
    [[noreturn]] void fail(int) {
        ERR_clear_error();
        if (link.failure) std::rethrow_exception(std::exchange(link.failure, nullptr));
        throw network_error();
    }
};

tls_socket::tls_socket(const tls_credentials& credentials, tcp_socket& transport, bool issue_tickets)
    : transport_(transport), state_(std::make_unique<state>()) {
    state_->link.transport = &transport;
    ERR_clear_error();
    state_->ssl = SSL_new(credentials.get().context);
    BIO* bio = BIO_new(link_method());
    if (!state_->ssl || !bio) {
        BIO_free(bio);
        throw network_error();
    }
    BIO_set_data(bio, &state_->link);
    SSL_set_bio(state_->ssl, bio, bio);
    if (!issue_tickets) SSL_set_num_tickets(state_->ssl, 0);
    // An end of data without close_notify reads as an end here and is judged by
    // the record framing in read_available, not made a fatal error that would
    // keep our own close from going out.
    SSL_set_options(state_->ssl, SSL_OP_IGNORE_UNEXPECTED_EOF);
    const int result = SSL_accept(state_->ssl);
    if (result != 1) {
        // No close to send on a connection that never carried TLS.
        state_->close_sent = true;
        state_->fail(result);
    }
}

tls_socket::~tls_socket() {
    try {
        if (!state_->close_sent) finish();
    } catch (const std::exception&) {
    }
}

std::size_t tls_socket::read_available(void* buffer, std::size_t count) {
    if (count == 0) return 0;
    ERR_clear_error();
    const int size = static_cast<int>(std::min<std::size_t>(count, INT_MAX));
    const int result = SSL_read(state_->ssl, buffer, size);
    if (result > 0) return static_cast<std::size_t>(result);
    if (SSL_get_error(state_->ssl, result) != SSL_ERROR_ZERO_RETURN || state_->link.failure) state_->fail(result);
    // The peer's close_notify, or an end of data without it: a plain close
    // between records, a truncation inside one.
    if (state_->link.ended && !state_->link.records.between_records()) throw network_error();
    return 0;
}

std::size_t tls_socket::read(void* buffer, std::size_t count) {
    auto* bytes = static_cast<char*>(buffer);
    std::size_t total = 0;
    while (total < count) {
        const std::size_t got = read_available(bytes + total, count - total);
        if (got == 0) break;
        total += got;
    }
    return total;
}

std::size_t tls_socket::read_some(void* buffer, std::size_t count) {
    if (SSL_pending(state_->ssl) == 0 && !transport_.poll_readable()) return 0;
    return read_available(buffer, count);
}

void tls_socket::wait_readable() {
    if (SSL_pending(state_->ssl) == 0) transport_.wait_readable();
}

bool tls_socket::poll_readable() { return SSL_pending(state_->ssl) > 0 || transport_.poll_readable(); }

std::size_t tls_socket::write_some(const void* buffer, std::size_t count) {
    if (count == 0) return 0;
    ERR_clear_error();
    const int size = static_cast<int>(std::min(count, max_send_piece));
    const int result = SSL_write(state_->ssl, buffer, size);
    if (result <= 0) state_->fail(result);
    return static_cast<std::size_t>(result);
}

void tls_socket::write(const void* buffer, std::size_t count) {
    const auto* bytes = static_cast<const char*>(buffer);
    while (count > 0) {
        const std::size_t sent = write_some(bytes, count);
        bytes += sent;
        count -= sent;
    }
}

void tls_socket::wait_writable() { transport_.wait_writable(); }

bool tls_socket::poll_writable() { return transport_.poll_writable(); }

void tls_socket::connect(const std::string&, const std::string&, bool) {
    throw std::runtime_error("SSL not supported");
}

void tls_socket::finish() {
    if (state_->close_sent) return;
    state_->close_sent = true;
    ERR_clear_error();
    // 0 means sent, the peer's close not seen yet; waiting for it is not needed.
    // A peer that has ended its data may have gone: then nobody misses the close.
    const int result = SSL_shutdown(state_->ssl);
    if (result < 0 && !state_->link.ended) state_->fail(result);
    ERR_clear_error();
}

void tls_socket::close() {
    try {
        finish();
    } catch (const std::exception&) {
    }
    transport_.close();
}

}  // namespace ZT
