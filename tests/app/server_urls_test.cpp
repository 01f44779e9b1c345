#include "app/server_urls.h"
#include "lib/errors.h"
#include "lib/socket_api.h"

#include <gtest/gtest.h>

namespace ZT {
namespace {

network_address ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl((std::uint32_t(a) << 24) | (std::uint32_t(b) << 16) | (std::uint32_t(c) << 8) | d);
    return network_address::from_sockaddr_in(address);
}

TEST(server_urls, all_interfaces_list_every_address_but_any_and_loopback) {
    const std::vector<network_address> local = {ipv4(127, 0, 0, 1, 0), ipv4(192, 168, 1, 10, 0),
                                                ipv4(0, 0, 0, 0, 0), ipv4(10, 0, 0, 5, 0)};
    EXPECT_EQ(server_urls_for(ipv4(0, 0, 0, 0, 2121), local),
              (std::vector<std::string>{"ftp://192.168.1.10:2121", "ftp://10.0.0.5:2121"}));
    // Port 21 is left out of the line.
    EXPECT_EQ(server_urls_for(ipv4(0, 0, 0, 0, 21), local),
              (std::vector<std::string>{"ftp://192.168.1.10", "ftp://10.0.0.5"}));
}

TEST(server_urls, only_loopback_up_is_a_network_error) {
    EXPECT_THROW(server_urls_for(ipv4(0, 0, 0, 0, 21), {ipv4(127, 0, 0, 1, 0)}), network_error);
    EXPECT_THROW(server_urls_for(ipv4(0, 0, 0, 0, 21), {}), network_error);
}

TEST(server_urls, a_given_address_is_the_only_line) {
    EXPECT_EQ(server_urls_for(ipv4(127, 0, 0, 1, 21), {ipv4(10, 0, 0, 5, 0)}),
              (std::vector<std::string>{"ftp://127.0.0.1"}));
    EXPECT_EQ(server_urls_for(ipv4(127, 0, 0, 1, 2121), {}), (std::vector<std::string>{"ftp://127.0.0.1:2121"}));
}

TEST(server_urls, addresses_must_be_ipv4_records) {
    network_address six;
    const std::uint8_t bytes[28] = {};
    six.assign(bytes, sizeof bytes);
    EXPECT_THROW(server_urls_for(six, {}), invalid_input);
}

TEST(server_urls, addresses_on_disconnected_or_vanishing_interfaces_are_left_out) {
    const std::pair<std::uint16_t, bool> rows[] = {{0x0000, true},  {0x0001, true},  {0x0004, true},  {0x0085, true},
                                                   {0x0008, false}, {0x0040, false}, {0x0009, false}, {0x0044, false}};
    for (const auto& [type, kept] : rows) EXPECT_EQ(reachable_address_type(type), kept) << type;
}

TEST(server_urls, local_addresses_are_ipv4_with_port_zero) {
    for (const network_address& address : local_ipv4_addresses()) {
        EXPECT_EQ(address.size(), 16u);
        EXPECT_EQ(address.port(), 0u);
    }
}

}  // namespace
}  // namespace ZT
