#include "data/data_sockets.h"
#include "lib/network_session.h"

#include <gtest/gtest.h>

namespace ZT {
namespace {

network_address ipv4(std::uint32_t host, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(host);
    address.sin_port = htons(port);
    return network_address::from_sockaddr_in(address);
}

// A socket prepared as every listener is, bound to the wildcard address (not
// listening, so that nothing reaches it), keeps every other socket off its port
// at a specific address, whatever that socket's options: Windows answers
// WSAEACCES, and a passive listener counts such a port busy and takes the next.
TEST(exclusive_listener, holds_its_port_against_binds_at_a_specific_address) {
    network_session session;
    socket_handle holder;
    holder.open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    holder.prepare_listener();
    holder.bind(ipv4(INADDR_ANY, 0));
    const std::uint16_t port = holder.local_address().port();
    for (const int option : {0, SO_REUSEADDR, SO_EXCLUSIVEADDRUSE}) {
        socket_handle intruder;
        intruder.open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        const BOOL on = TRUE;
        if (option) setsockopt(intruder.native(), SOL_SOCKET, option, reinterpret_cast<const char*>(&on), sizeof on);
        EXPECT_FALSE(intruder.try_bind(ipv4(INADDR_LOOPBACK, port))) << option;
        EXPECT_EQ(WSAGetLastError(), WSAEACCES) << option;
    }

    passive_port_claims claims;
    passive_port_claim claim;
    socket_handle listener;
    const auto bound = listen_on_passive_port(listener, claim, claims, ipv4(INADDR_LOOPBACK, 0),
                                              [&](int previous) { return previous < 0 ? port : 0; });
    ASSERT_TRUE(bound);
    EXPECT_NE(bound->port(), port);
    EXPECT_TRUE(claims.try_claim(port));
}

}  // namespace
}  // namespace ZT
