// Helpers shared by the unit tests that need real connections: a listener on
// 127.0.0.1 with a system-chosen port, and a connected pair of TCP sockets.
#pragma once

#include "lib/network_address.h"
#include "lib/socket_handle.h"
#include "lib/tcp_socket.h"
#include "lib/text.h"

#include <cstdint>

namespace ZT::test {

inline network_address loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return network_address::from_sockaddr_in(address);
}

// A listening socket on 127.0.0.1 with a system-chosen port.
struct listener {
    socket_handle socket;
    std::uint16_t port = 0;

    listener() {
        socket.open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        socket.bind(loopback(0));
        socket.listen();
        port = socket.local_address().port();
        socket.set_timeout(5);
    }

    tcp_socket accept_one() {
        socket.wait(true, false);
        tcp_socket accepted(socket.accept());
        accepted.set_timeout(5);
        return accepted;
    }

    bool has_pending_connection() { return socket.try_wait(true, false, 0) != 0; }
};

struct connection_pair {
    tcp_socket client;
    tcp_socket server;
};

// Both ends of a fresh connection to `l`, each with a 5-second timeout.
inline connection_pair connect_pair(listener& l) {
    connection_pair pair;
    pair.client.set_timeout(5);
    connect_to_host(pair.client, "127.0.0.1", format_uint(l.port));
    pair.server = l.accept_one();
    return pair;
}

}  // namespace ZT::test
