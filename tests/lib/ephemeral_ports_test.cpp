#include "lib/ephemeral_ports.h"

#include <gtest/gtest.h>

namespace ZT {
namespace {

TEST(ephemeral_ports, range_text) {
    const struct {
        const char* text;
        int first;  // 0: no range
        int last;
    } rows[] = {
        {"32768\t60999\n", 32768, 60999},
        {"1024 65535", 1024, 65535},
        {"  40000   40000  \n", 40000, 40000},
        {"60999\t32768\n", 0, 0},  // upside down
        {"0\t100\n", 0, 0},
        {"32768\n", 0, 0},
        {"32768\t65536\n", 0, 0},
        {"32768\t6x999\n", 0, 0},
        {"-1\t100\n", 0, 0},
        {"", 0, 0},
        {"1 2 3", 0, 0},
    };
    for (const auto& r : rows) {
        const std::optional<ephemeral_port_range> range = parse_ephemeral_range(r.text);
        if (r.first == 0) {
            EXPECT_FALSE(range) << r.text;
            continue;
        }
        ASSERT_TRUE(range) << r.text;
        EXPECT_EQ(range->first, r.first) << r.text;
        EXPECT_EQ(range->last, r.last) << r.text;
        EXPECT_TRUE(range->reserved.empty());
    }
}

TEST(ephemeral_ports, reserved_ports_inside_the_range_are_never_offered) {
    const struct {
        const char* text;
        bool accepted;
        std::set<std::uint16_t> reserved;
    } rows[] = {
        {"\n", true, {}},
        {"", true, {}},
        {"40000\n", true, {40000}},
        {"39998-40001,40005", true, {40000, 40001, 40005}},  // only what lies in 40000-40010
        {"1-100,65000", true, {}},
        {"40010-40020", true, {40010}},
        {"40003-40002", false, {}},
        {"4000a", false, {}},
        {"40000,,40001", false, {}},
        {"65536", false, {}},
    };
    for (const auto& r : rows) {
        ephemeral_port_range range = *parse_ephemeral_range("40000 40010");
        EXPECT_EQ(add_reserved_ports(range, r.text), r.accepted) << r.text;
        EXPECT_EQ(range.reserved, r.reserved) << r.text;
        for (std::uint32_t port = 39990; port <= 40020; ++port) {
            const bool offered = port >= 40000 && port <= 40010 && !r.reserved.contains(static_cast<std::uint16_t>(port));
            EXPECT_EQ(range.offers(static_cast<std::uint16_t>(port)), offered) << r.text << " " << port;
        }
    }
}

}  // namespace
}  // namespace ZT
