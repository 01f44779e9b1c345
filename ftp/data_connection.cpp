#include "ftp/data_connection.h"

#include "data/data_sockets.h"
#include "data/passive_mode.h"
#include "ftp/ftp_session.h"
#include "ftp/replies.h"

#include <optional>

namespace ZT {

void open_passive_listener(ftp_session& session) {
    const std::optional<network_address> bound = listen_on_passive_port(
        session.passive_socket, session.passive_port, session.server.passive_ports_in_use(),
        session.channel.local_address(), [&session](int previous) { return session.server.next_passive_port(previous); });
    if (!bound) {
        session.reply(reply::data_connection_unavailable);
        return;
    }

    // A configured address is announced with the listener's port; otherwise the
    // address the client reached.
    network_address announced = session.server.passive_address();
    if (announced.ipv4() != 0) {
        announced.set_port(bound->port());
    } else {
        announced = *bound;
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
    session.reply(reply::port_accepted);
}

}  // namespace ZT
