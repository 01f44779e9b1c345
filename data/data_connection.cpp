#include "data/data_connection.h"

#include "data/passive_mode.h"
#include "ftp/ftp_session.h"
#include "lib/errors.h"

namespace ZT {

namespace {

// Every wait on a passive listener: for the client's connection.
constexpr double passive_wait_seconds = 30.0;

// A new listener for the session, not yet bound. Fails with network_error
// (no socket can be made).
void open_listener(socket_handle& listener) {
    listener.open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    listener.set_timeout(passive_wait_seconds);
    listener.set_nonblocking();
    // A port whose last data connection lingers in TIME_WAIT serves again at
    // once (on Windows binding rules allow this already).
    listener.allow_rebinding();
}

// Binds the listener to the address and starts listening; false when the port
// is taken. The listen belongs to the attempt: with rebinding allowed, two
// sessions can bind one port at the same moment and only the first to listen
// keeps it, so the other must go on to the next port like any taken one. A
// socket whose bind failed serves the next attempt; one that bound does not.
bool start_listening(socket_handle& listener, const network_address& address) {
    try {
        if (!listener.is_open()) open_listener(listener);
    } catch (const network_error&) {
        listener.close();
        return false;
    }
    if (!listener.try_bind(address)) return false;
    if (listener.try_listen()) return true;
    listener.close();
    return false;
}

}  // namespace

void open_passive_listener(ftp_session& session) {
    network_address address = session.channel.local_address();
    socket_handle& listener = session.passive_socket;
    listener.close();  // a new PASV replaces the last one's listener
    session.passive_port.release();
    for (int previous = -1;;) {
        const int port = session.server.next_passive_port(previous);
        if (port >= 0) address.set_port(static_cast<std::uint16_t>(port));  // invalid_input unless IPv4
        // A port that another session of this server listens on is passed over
        // without a system call; the system decides about every other one.
        const bool claimed =
            port > 0 && session.passive_port.claim(session.server.passive_ports_in_use, static_cast<std::uint16_t>(port));
        if ((port == 0 || claimed) && start_listening(listener, address)) break;
        session.passive_port.release();
        if (port <= 0) {
            // No port left, or the system could not give one.
            listener.close();
            session.reply("503 Internal Error");
            return;
        }
        previous = port;  // taken: try the next configured port
    }
    try {
        address = listener.local_address();  // the port the system chose for port 0
    } catch (...) {
        listener.close();
        session.passive_port.release();
        throw;
    }

    // A configured address is announced with the listener's port; otherwise the
    // address the client reached.
    network_address announced = session.server.passive_address();
    if (announced.ipv4() != 0) {
        announced.set_port(address.port());
    } else {
        announced = address;
    }
    const std::uint32_t ip = announced.ipv4();
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(ip >> 24), static_cast<std::uint8_t>(ip >> 16),
                                   static_cast<std::uint8_t>(ip >> 8), static_cast<std::uint8_t>(ip)};
    session.reply(format_pasv_reply(bytes, announced.port()));
}

void store_port_address(ftp_session& session, const std::string& argument) {
    session.passive_socket.close();
    session.passive_port.release();
    session.port_text = argument;
    session.reply("200 PORT command successful");
}

}  // namespace ZT
