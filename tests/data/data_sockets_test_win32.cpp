#include "data/data_sockets.h"
#include "lib/network_session.h"

#include <gtest/gtest.h>

namespace ZT {
namespace {

// Tries a second socket at `address` with no option, SO_REUSEADDR and
// SO_EXCLUSIVEADDRUSE; every one must be refused, with `error` when it is not 0.
void expect_no_intruder(const network_address& address, int error = 0) {
    for (const int option : {0, SO_REUSEADDR, SO_EXCLUSIVEADDRUSE}) {
        socket_handle intruder;
        intruder.open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        const BOOL on = TRUE;
        if (option) setsockopt(intruder.native(), SOL_SOCKET, option, reinterpret_cast<const char*>(&on), sizeof on);
        EXPECT_FALSE(intruder.try_bind(address)) << "option " << option << ", port " << address.port();
        if (error != 0) {
            EXPECT_EQ(WSAGetLastError(), error) << "option " << option;
        }
    }
}

// The server's listener on the wildcard address (bound only, so that nothing
// reaches it) keeps all others off its port at 127.0.0.1, whatever their
// options; Windows answers WSAEACCES, and a passive listener takes the next
// port. The passive listener, at its specific address, keeps others off too.
TEST(exclusive_listener, holds_its_port_against_binds_at_a_specific_address) {
    network_session session;
    socket_handle holder;
    holder.open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    holder.prepare_listener();
    holder.bind(network_address::any_ipv4());
    network_address held = resolve_address("127.0.0.1", "", AF_INET).front().address;
    held.set_port(holder.local_address().port());
    expect_no_intruder(held, WSAEACCES);

    passive_port_claims claims;
    passive_port_claim claim;
    socket_handle listener;
    const auto next_port = [&](int previous) { return previous < 0 ? held.port() : 0; };
    const auto bound = listen_on_passive_port(listener, claim, claims, held, next_port);
    ASSERT_TRUE(bound);
    EXPECT_NE(bound->port(), held.port());
    expect_no_intruder(*bound);
}

}  // namespace
}  // namespace ZT
