#include "ftp/transfer_engine.h"

#include "data/data_sockets.h"
#include "ftp/failure_replies.h"
#include "ftp/ftp_session.h"
#include "ftp/replies.h"
#include "lib/errors.h"
#include "lib/tls_socket.h"

namespace ZT {

namespace {

// Shuts both directions down and closes (close does both).
void close_data_connection(tcp_socket& data) { data.close(); }

// Runs the body on the data connection, through TLS after PROT P. The TLS
// close goes out before the connection closes: a client reads a transfer
// without it as cut short.
void run_body(ftp_session& session, tcp_socket& data, const data_transfer_body& body) {
    if (!session.security.protect_data) {
        body(data);
        return;
    }
    tls_socket secured(*session.security.credentials, data, false);
    body(secured);
    secured.finish();
}

}  // namespace

bool data_connection_prepared(const ftp_session& session) {
    return session.passive_socket.is_open() || !session.port_text.empty();
}

void transfer_data(ftp_session& session, const std::string& name, const std::optional<std::string>& first_reply,
                   const data_transfer_body& body) {
    if (session.security.refuses_transfer()) {
        session.reply(reply::transfer_needs_tls);
        return;
    }
    if (!data_connection_prepared(session)) {
        session.reply(reply::data_connection_unavailable);
        return;
    }
    // The client's address is read before the transfer starts: a client that
    // drops its control connection once the transfer is under way still gets
    // its data.
    const network_address client_address = session.channel.peer_address();
    session.reply(first_reply ? *first_reply : reply::opening_data_connection(session.transfer_type == "A", name));

    if (session.passive_socket.is_open()) {
        tcp_socket data = accept_data_connection(session.passive_socket, client_address.ipv4(),
                                                 session.server.balancers());
        session.passive_port.release();
        data.set_timeout(data_wait_seconds);
        try {
            run_body(session, data, body);
        } catch (...) {
            // The client sees the end of the data before the reply; a failure
            // that has no reply passes on and ends the session.
            close_data_connection(data);
            session.reply(failure_reply(failures::transfer_file_errors));
            return;
        }
        close_data_connection(data);
    } else {
        tcp_socket data;
        connect_data_connection(session.port_text, client_address, data);
        run_body(session, data, body);
        close_data_connection(data);
        session.port_text.clear();
    }
    session.reply(reply::transfer_complete);
}

}  // namespace ZT
