#include "data/passive_mode.h"
#include "data/unique_file_name.h"
#include "lib/errors.h"

#include <gtest/gtest.h>

#include <vector>

namespace ZT {
namespace {

using port_set = std::set<std::uint32_t>;
using range_map = std::map<std::uint32_t, std::uint32_t>;

// Every port that a PASV would try, in order, up to the final answer.
std::vector<int> passive_walk(const port_set& ports, const range_map& ranges) {
    std::vector<int> tries;
    int port = -1;
    do {
        port = next_configured_passive_port(ports, ranges, port);
        tries.push_back(port);
    } while (port > 0 && tries.size() < 70000);
    return tries;
}

TEST(next_passive_port, single_steps) {
    struct row {
        port_set ports;
        range_map ranges;
        int previous;
        int expected;
    };
    const std::vector<row> rows = {
        {{}, {}, -1, 0},             // nothing configured: the system chooses
        {{}, {}, 5000, 0},
        {{}, {{0, 10}}, -1, 1},      // below 1 counts as 0, so port 0 is skipped
        {{}, {{100, 200}}, 65535, -1},
        {{21}, {}, 65535, -1},
        {{}, {{65000, 65535}}, 65534, 65535},
        {{}, {{100, 200}}, 200, -1},  // no wrap-around
        {{300}, {{100, 200}}, 250, 300},
        {{150}, {{200, 300}}, 100, 150},  // the lower of a single port and a range start
        {{250}, {{200, 300}}, 100, 200},
    };
    for (const row& r : rows)
        EXPECT_EQ(next_configured_passive_port(r.ports, r.ranges, r.previous), r.expected) << "previous " << r.previous;
}

TEST(next_passive_port, walks_every_configured_port_once_in_order) {
    std::vector<int> expected;
    for (int port = 100; port <= 200; ++port) expected.push_back(port);
    expected.insert(expected.end(), {300, -1});
    EXPECT_EQ(passive_walk({300}, {{100, 200}}), expected);

    EXPECT_EQ(passive_walk({7, 21, 2121}, {}), (std::vector<int>{7, 21, 2121, -1}));
    EXPECT_EQ(passive_walk({5}, {{1, 2}, {10, 11}}), (std::vector<int>{1, 2, 5, 10, 11, -1}));
}

TEST(passive_reply, text) {
    const struct {
        std::uint8_t address[4];
        std::uint16_t port;
        const char* expected;
    } rows[] = {
        {{192, 168, 1, 2}, 1025, "227 Entering Passive Mode (192,168,1,2,4,1)."},
        {{10, 0, 0, 5}, 50000, "227 Entering Passive Mode (10,0,0,5,195,80)."},
        {{0, 0, 0, 0}, 0, "227 Entering Passive Mode (0,0,0,0,0,0)."},
        {{255, 255, 255, 255}, 65535, "227 Entering Passive Mode (255,255,255,255,255,255)."},
    };
    for (const auto& r : rows) EXPECT_EQ(format_pasv_reply(r.address, r.port), r.expected);
}

TEST(port_argument, host_and_port_text) {
    const struct {
        const char* argument;
        const char* host;
        const char* port;
    } rows[] = {
        {"127,0,0,1,4,1", "127.0.0.1", "1025"},
        {"10,0,0,5,195,80", "10.0.0.5", "50000"},
        {",,,,,", "...", "0"},
        {"1,2,3,4,1,0", "1.2.3.4", "256"},
        {"1,2,3,4,300,300", "1.2.3.4", "77100"},  // passed on unchecked
        {"1,2,3,4,,21", "1.2.3.4", "21"},
        {"h,o,s,t,0,21", "h.o.s.t", "21"},         // host pieces kept as typed
        {"001,2,3,4,0,0021", "001.2.3.4", "21"},
        {"1,2,3,4,4294967295,4294967295", "1.2.3.4", "1103806594815"},
    };
    for (const auto& r : rows) {
        const address_text parsed = parse_port_argument(r.argument);
        EXPECT_EQ(parsed.host, r.host) << r.argument;
        EXPECT_EQ(parsed.port, r.port) << r.argument;
    }
}

TEST(port_argument, malformed) {
    for (const char* argument : {"", "1,2,3,4,5", "1,2,3,4,5,6,7", "1,2,3,4,5,6,", "1,2,3,4,a,1", "1,2,3,4,1,-1",
                                 "1,2,3,4,1, 2", "1,2,3,4,0x1,0"})
        EXPECT_THROW(parse_port_argument(argument), invalid_input) << argument;
    for (const char* argument : {"1,2,3,4,4294967296,0", "1,2,3,4,0,4294967296", "1,2,3,4,0,99999999999999999999999"})
        EXPECT_THROW(parse_port_argument(argument), overflow) << argument;
}

TEST(unique_file_name, fresh_lower_case_version_4_guid) {
    const std::string first = unique_file_name();
    const std::string second = unique_file_name();
    EXPECT_NE(first, second);
    for (const std::string& name : {first, second}) {
        ASSERT_EQ(name.size(), 32u);
        EXPECT_EQ(name.find_first_not_of("0123456789abcdef"), std::string::npos) << name;
        // Byte 7 carries the version in its high nibble, byte 8 the variant in its
        // top two bits; CoCreateGuid makes version-4 GUIDs too.
        EXPECT_EQ(name[14], '4') << name;
        EXPECT_NE(std::string("89ab").find(name[16]), std::string::npos) << name;
    }
}

TEST(port_host, decimal_octets_in_any_width) {
    const struct {
        const char* host;
        std::optional<std::uint32_t> expected;
    } rows[] = {
        {"127.0.0.1", 0x7F000001},
        {"127.000.0.1", 0x7F000001},
        {"0127.00.000.001", 0x7F000001},
        {"000000000000000000000255.0.0.0", 0xFF000000},
        {"255.255.255.255", 0xFFFFFFFF},
        {"0.0.0.0", 0},
        {"127.0.0.", std::nullopt},
        {".0.0.1", std::nullopt},
        {"127.0.0.256", std::nullopt},
        {"127.0.0.1000", std::nullopt},
        {"127.0.0.1a", std::nullopt},
        {"127.0.0.0x1", std::nullopt},
        {"127.0.0.-1", std::nullopt},
        {"127.0.0.+1", std::nullopt},
        {"127.0.0. 1", std::nullopt},
        {"127.0.1", std::nullopt},
        {"127.0.0.1.1", std::nullopt},
        {"localhost...", std::nullopt},
        {"...", std::nullopt},
        {"", std::nullopt},
        {"99999999999999999999999.0.0.1", std::nullopt},
    };
    for (const auto& r : rows) EXPECT_EQ(parse_ipv4_host(r.host), r.expected) << r.host;
}

}  // namespace
}  // namespace ZT
