#include "data/data_sockets.h"
#include "lib/ephemeral_ports.h"
#include "lib/errors.h"
#include "lib/network_session.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace ZT {
namespace {

network_address loopback(std::uint16_t port) {
    network_address address = resolve_address("127.0.0.1", "", AF_INET).front().address;
    address.set_port(port);
    return address;
}

// A socket listening on a port the system chose: a port that is busy.
struct busy_port {
    busy_port() {
        socket.open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        socket.bind(loopback(0));
        socket.listen();
        port = socket.local_address().port();
    }
    socket_handle socket;
    std::uint16_t port;
};

// A port that nothing listens on now: the system chose it, and it was let go.
std::uint16_t free_port() {
    socket_handle probe;
    probe.open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    probe.bind(loopback(0));
    return probe.local_address().port();
}

// Hands out the given ports in turn, then -1, recording what it was asked.
struct port_list {
    explicit port_list(std::vector<int> given) : ports(std::move(given)) {}
    std::vector<int> ports;
    std::vector<int> asked;
    passive_port_source source() {
        return [this](int previous) {
            asked.push_back(previous);
            return asked.size() <= ports.size() ? ports[asked.size() - 1] : -1;
        };
    }
};

class passive_listener : public ::testing::Test {
protected:
    network_session networking_;
    passive_port_claims claims_;
    passive_port_claim claim_;
    socket_handle listener_;
};

TEST_F(passive_listener, the_first_port_that_can_be_had_wins) {
    busy_port taken;
    passive_port_claim other_session;
    const std::uint16_t claimed = free_port();
    ASSERT_TRUE(other_session.claim(claims_, claimed));
    const std::uint16_t refused_at_listen = free_port();
    const std::uint16_t free = free_port();

    // The system refuses the first one at bind, the second is another session's
    // claim (never asked of the system), the third is refused at listen.
    port_list ports({taken.port, claimed, refused_at_listen, free});
    fail_listens_for_tests(1);
    const auto bound = listen_on_passive_port(listener_, claim_, claims_, loopback(0), ports.source());
    fail_listens_for_tests(0);
    ASSERT_TRUE(bound);
    EXPECT_EQ(bound->port(), free);
    EXPECT_EQ(listener_.local_address().port(), free);
    EXPECT_EQ(ports.asked, (std::vector<int>{-1, taken.port, claimed, refused_at_listen}));
    EXPECT_TRUE(listener_.is_open());
    EXPECT_EQ(listener_.timeout(), passive_wait_seconds);
    // Only the port in use is claimed; the one refused at listen is free again.
    EXPECT_FALSE(claims_.try_claim(free));
    EXPECT_TRUE(claims_.try_claim(refused_at_listen));
    claims_.release(refused_at_listen);
}

TEST_F(passive_listener, nothing_stays_open_or_claimed_when_no_port_is_left) {
    busy_port taken;
    const std::uint16_t refused_at_listen = free_port();
    port_list ports({taken.port, refused_at_listen});
    fail_listens_for_tests(1);
    EXPECT_FALSE(listen_on_passive_port(listener_, claim_, claims_, loopback(0), ports.source()));
    fail_listens_for_tests(0);
    EXPECT_FALSE(listener_.is_open());
    EXPECT_TRUE(claims_.try_claim(refused_at_listen));

    // Port 0 is the system's choice; when the system cannot give one (nor any of
    // the random ports tried first), there is no next port to try.
    port_list system_choice({0});
    fail_listens_for_tests(1000);
    EXPECT_FALSE(listen_on_passive_port(listener_, claim_, claims_, loopback(0), system_choice.source()));
    fail_listens_for_tests(0);
    EXPECT_EQ(system_choice.asked, (std::vector<int>{-1}));
    EXPECT_FALSE(listener_.is_open());

    port_list again({0});
    const auto bound = listen_on_passive_port(listener_, claim_, claims_, loopback(0), again.source());
    ASSERT_TRUE(bound);
    EXPECT_NE(bound->port(), 0);
}

TEST_F(passive_listener, the_systems_choice_is_a_claimed_port_of_its_ephemeral_range) {
    const std::optional<ephemeral_port_range>& range = system_ephemeral_ports();
    for (int round = 0; round < 20; ++round) {
        port_list system_choice({0});
        const auto bound = listen_on_passive_port(listener_, claim_, claims_, loopback(0), system_choice.source());
        ASSERT_TRUE(bound);
        // The address announced is the one the listener holds.
        EXPECT_EQ(listener_.local_address().port(), bound->port());
        EXPECT_EQ(listener_.local_address().ipv4(), bound->ipv4());
        if (!range) continue;  // the system picks, as it likes
        EXPECT_TRUE(range->offers(bound->port())) << bound->port();
        // Picked by the server, so held against the other sessions.
        EXPECT_FALSE(claims_.try_claim(bound->port()));
    }
}

TEST_F(passive_listener, a_new_listener_replaces_the_last_one_and_its_claim) {
    const std::uint16_t first = free_port();
    port_list once({first});
    ASSERT_TRUE(listen_on_passive_port(listener_, claim_, claims_, loopback(0), once.source()));
    port_list system_choice({0});
    ASSERT_TRUE(listen_on_passive_port(listener_, claim_, claims_, loopback(0), system_choice.source()));
    EXPECT_TRUE(claims_.try_claim(first));
}

}  // namespace
}  // namespace ZT
