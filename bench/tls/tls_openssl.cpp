// The TLS client over OpenSSL: one context for the whole process, one SSL
// object per connection over the caller's socket (a socket BIO that leaves the
// descriptor open).
#include "tls_layer.h"

#include "bench_text.h"
#include "sockets.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <string>

namespace ftpbench {

namespace {

// `what`, then the oldest error on this thread's OpenSSL queue; the queue is
// emptied.
std::string openssl_error(const std::string& what) {
    const unsigned long code = ERR_peek_error();
    std::string text = what + ": ";
    if (code == 0) {
        text += "failed";
    } else if (ERR_GET_LIB(code) == ERR_LIB_SSL && ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
        text += "the server closed the connection without close_notify";
    } else {
        char reason[256];
        ERR_error_string_n(code, reason, sizeof reason);
        text += reason;
    }
    ERR_clear_error();
    return text;
}

SSL_CTX* client_context() {
    static SSL_CTX* const context = [] {
        // OpenSSL writes to the socket without MSG_NOSIGNAL: a server that has
        // closed must make a write fail, not end this process.
        std::signal(SIGPIPE, SIG_IGN);
        SSL_CTX* made = SSL_CTX_new(TLS_client_method());
        if (!made) throw bench_error(openssl_error("TLS context"));
        SSL_CTX_set_verify(made, SSL_VERIFY_NONE, nullptr);
        // Reads of up to 128 KiB, several records each, instead of two reads
        // per record (its header, then its body): a quarter less of the
        // client's CPU per byte downloaded, which the server would miss on a
        // machine shared with it. Nothing plain follows TLS on a connection.
        SSL_CTX_set_read_ahead(made, 1);
        SSL_CTX_set_default_read_buffer_len(made, 128 << 10);
        if (SSL_CTX_set_min_proto_version(made, TLS1_2_VERSION) != 1) {
            SSL_CTX_free(made);
            throw bench_error(openssl_error("TLS context"));
        }
        return made;
    }();
    return context;
}

}  // namespace

struct tls_connection::state {
    SSL* ssl = nullptr;
    const char* role = "";
    ~state() { SSL_free(ssl); }

    // After a call that returned `result` (errno was `saved_errno` right
    // after it): returns when the call is to be made again (a signal came),
    // otherwise throws, naming `action`.
    void fail_or_retry(int result, int saved_errno, const char* action) const {
        const int error = SSL_get_error(ssl, result);
        const std::string what = std::string("TLS ") + action + " on the " + role;
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_SYSCALL) {
            // On a blocking socket: its timeout passed, a signal came, or the
            // system refused the call.
            if (saved_errno == EINTR) return;
            if (saved_errno != 0) {
                ERR_clear_error();
                errno = saved_errno;
                throw bench_error(system_error(what));
            }
        }
        throw bench_error(openssl_error(what));
    }
};

void require_tls() {
    client_context();
}

tls_connection::tls_connection(int fd, const tls_connection* resume, const char* role)
    : state_(std::make_unique<state>()) {
    state_->role = role;
    state_->ssl = SSL_new(client_context());
    if (!state_->ssl) throw bench_error(openssl_error(std::string("TLS on the ") + role));
    if (SSL_set_fd(state_->ssl, fd) != 1) throw bench_error(openssl_error(std::string("TLS on the ") + role));
    if (resume) {
        SSL_SESSION* session = SSL_get1_session(resume->state_->ssl);
        if (session) {
            const int set = SSL_set_session(state_->ssl, session);
            SSL_SESSION_free(session);
            if (set != 1) throw bench_error(openssl_error(std::string("TLS session for the ") + role));
        }
    }
    for (;;) {
        ERR_clear_error();
        const int result = SSL_connect(state_->ssl);
        if (result == 1) return;
        state_->fail_or_retry(result, errno, "handshake");
    }
}

tls_connection::~tls_connection() = default;

std::size_t tls_connection::receive_some(char* data, std::size_t size) {
    const int limit = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
    for (;;) {
        ERR_clear_error();
        const int got = SSL_read(state_->ssl, data, limit);
        if (got > 0) return static_cast<std::size_t>(got);
        const int saved_errno = errno;
        if (SSL_get_error(state_->ssl, got) == SSL_ERROR_ZERO_RETURN) {
            // The server's clean end, after which this side sends nothing: so
            // marked, or OpenSSL takes the freed connection for a broken one
            // and makes its session unresumable, and a data connection shares
            // that session with its control connection and the later ones.
            SSL_set_shutdown(state_->ssl, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
            return 0;
        }
        state_->fail_or_retry(got, saved_errno, "receive");
    }
}

void tls_connection::send_all(const char* data, std::size_t size) {
    while (size > 0) {
        const int piece = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
        ERR_clear_error();
        const int sent = SSL_write(state_->ssl, data, piece);
        if (sent > 0) {
            data += sent;
            size -= static_cast<std::size_t>(sent);
            continue;
        }
        state_->fail_or_retry(sent, errno, "send");
    }
}

void tls_connection::close_notify() {
    for (;;) {
        ERR_clear_error();
        // 0: sent, the server's close_notify not read (nor waited for).
        const int result = SSL_shutdown(state_->ssl);
        if (result >= 0) return;
        state_->fail_or_retry(result, errno, "close_notify");
    }
}

}  // namespace ftpbench
