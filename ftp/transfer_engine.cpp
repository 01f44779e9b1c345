#include "ftp/transfer_engine.h"

#include "data/data_sockets.h"
#include "ftp/failure_replies.h"
#include "ftp/ftp_session.h"
#include "ftp/replies.h"
#include "lib/errors.h"

namespace ZT {

namespace {

// Shuts both directions down and closes (close does both).
void close_data_connection(tcp_socket& data) { data.close(); }

}  // namespace

bool data_connection_prepared(const ftp_session& session) {
    return session.passive_socket.is_open() || !session.port_text.empty();
}

void transfer_data(ftp_session& session, const std::string& name, const std::optional<std::string>& first_reply,
                   const data_transfer_body& body) {
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
        tcp_socket data = accept_data_connection(session.passive_socket, client_address.ipv4());
        session.passive_port.release();
        data.set_timeout(data_wait_seconds);
        try {
            body(data);
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
        body(data);
        close_data_connection(data);
        session.port_text.clear();
    }
    session.reply(reply::transfer_complete);
}

}  // namespace ZT
