#include "data/transfer_engine.h"

#include "data/passive_mode.h"
#include "ftp/ftp_session.h"
#include "lib/errors.h"
#include "lib/text.h"

#include <chrono>
#include <stdexcept>

namespace ZT {

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Whether the connection's peer has the given IPv4 address; a connection
// already gone has no peer worth serving.
bool comes_from(const tcp_socket& data, std::uint32_t address) {
    try {
        return data.handle().peer_address().ipv4() == address;
    } catch (const network_error&) {
        return false;
    }
}

// Accepts the client's data connection on the session's listener, then closes
// the listener. A connection from any other address than the control
// connection's peer is closed at once and the wait goes on within the same
// limit, so nobody else can take the transfer by guessing the port.
tcp_socket accept_data_connection(ftp_session& session, const network_address& client_address) {
    socket_handle& listener = session.passive_socket;
    const std::uint32_t client = client_address.ipv4();
    const double limit = listener.timeout();
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const double left = limit < 0 ? -1.0 : limit - seconds_since(start);
        if (limit >= 0 && left <= 0) throw network_error_timeout();
        if (listener.try_wait(true, false, left) == 0) throw network_error_timeout();
        const socket_t accepted = listener.accept_pending();
        if (accepted == invalid_socket) continue;  // it went away before the accept
        tcp_socket data(accepted);
        if (comes_from(data, client)) {
            listener.close();
            session.passive_port.release();
            return data;
        }
    }
}

// Connects to the PORT text's address. Only the control connection's peer is
// ever connected to (no third party can be sent data), and the host is never
// resolved as a name; anything else fails as a failed connect does.
void connect_data_connection(ftp_session& session, const network_address& client_address, tcp_socket& data) {
    address_text target;
    try {
        target = parse_port_argument(session.port_text);
    } catch (const std::exception&) {
        throw std::runtime_error("Invalid PORT syntax");
    }
    std::uint64_t port = 0;
    try {
        port = parse_uint64(target.port);
    } catch (const std::exception&) {
        throw network_error_connect();
    }
    network_address address = client_address;
    // The host is compared as a number, so "127,000,0,1" names 127.0.0.1 too.
    const std::optional<std::uint32_t> host = parse_ipv4_host(target.host);
    if (!host || *host != address.ipv4() || port == 0 || port > 0xFFFF) throw network_error_connect();
    address.set_port(static_cast<std::uint16_t>(port));
    data.set_timeout(data_wait_seconds);
    connect_to_any(data, {address_info{0, AF_INET, SOCK_STREAM, IPPROTO_TCP, address}});
}

// Shuts both directions down and closes (close does both).
void close_data_connection(tcp_socket& data) { data.close(); }

}  // namespace

bool data_connection_prepared(const ftp_session& session) {
    return session.passive_socket.is_open() || !session.port_text.empty();
}

void transfer_data(ftp_session& session, const std::string& name, const std::optional<std::string>& first_reply,
                   const data_transfer_body& body) {
    if (!data_connection_prepared(session)) {
        session.reply("503 Internal Error");
        return;
    }
    // The client's address is read before the transfer starts: a client that
    // drops its control connection once the transfer is under way still gets
    // its data.
    const network_address client_address = session.channel.peer_address();
    session.reply(first_reply ? *first_reply
                              : "150 Opening " + std::string(session.transfer_type == "A" ? "ASCII" : "BINARY") +
                                    " mode data connection for " + name);

    if (session.passive_socket.is_open()) {
        tcp_socket data = accept_data_connection(session, client_address);
        data.set_timeout(data_wait_seconds);
        try {
            body(data);
        } catch (const file_not_found&) {
            close_data_connection(data);
            session.reply("550 No such file or directory");
            return;
        } catch (const file_access_error&) {
            close_data_connection(data);
            session.reply("550 Access denied");
            return;
        }
        close_data_connection(data);
    } else {
        tcp_socket data;
        connect_data_connection(session, client_address, data);
        body(data);
        close_data_connection(data);
        session.port_text.clear();
    }
    session.reply("226 Transfer complete");
}

}  // namespace ZT
