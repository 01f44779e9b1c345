// The ports that the system hands out for a bind to port 0, for a server that
// picks such a port itself: the system's own search (Linux) passes over every
// port that holds a socket in TIME_WAIT, and a server that makes many short
// connections leaves thousands of them, so each search slows to a crawl.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string_view>

namespace ZT {

struct ephemeral_port_range {
    std::uint16_t first = 0;
    std::uint16_t last = 0;
    // Ports inside the range that the system keeps back (never handed out).
    std::set<std::uint16_t> reserved;

    bool offers(std::uint16_t port) const { return port >= first && port <= last && !reserved.contains(port); }
};

// The system's range, read once; nothing where the choice is best left to the
// system (Windows, whose rules for sharing a port differ) or where the system
// does not say.
const std::optional<ephemeral_port_range>& system_ephemeral_ports();

// "first last" as the system writes its range (blanks or tabs between, a line
// end after); nothing unless both are ports from 1 to 65535 with first <= last.
std::optional<ephemeral_port_range> parse_ephemeral_range(std::string_view text);

// Adds a reserved-port list ("a-b,c", blank or empty for none) to the range;
// false, leaving the range as it was, when the text is not such a list.
bool add_reserved_ports(ephemeral_port_range& range, std::string_view text);

}  // namespace ZT
