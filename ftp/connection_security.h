// Encryption on one control connection: AUTH TLS turns the connection itself
// into TLS, PBSZ and PROT choose whether the data connections follow it. None
// of it exists for a client of a server without a certificate: those verbs are
// then as unknown as any other.
//
// Ownership and threads: run_session keeps one on the stack of the worker that
// serves the connection, for as long as the connection lasts (REIN keeps it);
// the login dialogue and the session after it use it from that thread alone.
#pragma once

#include "ftp/control_channel.h"
#include "lib/tls_socket.h"

#include <memory>

namespace ZT {

struct connection_security {
    // The control connection beneath everything.
    tcp_socket* connection = nullptr;
    // The server's credentials; none when it offers no encryption.
    const tls_credentials* credentials = nullptr;
    // Logins wait for AUTH TLS and transfers for PROT P.
    bool required = false;
    // The TLS stream over the control connection, from AUTH TLS on.
    std::unique_ptr<tls_socket> control;
    // PROT P: every data connection is TLS.
    bool protect_data = false;

    bool offered() const { return credentials != nullptr; }
    bool secured() const { return control != nullptr; }
    // Whether USER and PASS must be refused for now.
    bool refuses_login() const { return required && !secured(); }
    // Whether a transfer must be refused for now.
    bool refuses_transfer() const { return required && !protect_data; }
};

// Answers AUTH, PBSZ and PROT, before (`logged_in` false) or after login, and
// returns true. Returns false, sending nothing, for any other verb, and for
// these where the connection has no use for them: AUTH on a server that offers
// no encryption, PBSZ and PROT before AUTH TLS. A good AUTH answers 234 and runs
// the handshake on the connection; from then on `channel` reads and writes through
// the TLS stream. A failed handshake throws (network_error, or the wait's
// exceptions) and ends the session.
bool answer_security_command(connection_security& security, control_channel& channel, const command_line& command,
                             bool logged_in);

}  // namespace ZT
