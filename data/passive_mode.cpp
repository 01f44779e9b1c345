#include "data/passive_mode.h"

#include "lib/errors.h"
#include "lib/text.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <vector>

namespace ZT {

int next_configured_passive_port(const std::set<std::uint32_t>& ports,
                                 const std::map<std::uint32_t, std::uint32_t>& ranges, int previous) {
    if (ports.empty() && ranges.empty()) return 0;
    const std::uint32_t p = previous > 0 ? static_cast<std::uint32_t>(previous) : 0;
    if (p >= 65535) return -1;

    // Still inside the range that holds p: step to the next port of it.
    const auto later_range = ranges.upper_bound(p);
    if (later_range != ranges.begin() && p + 1 <= std::prev(later_range)->second) return static_cast<int>(p + 1);

    // Otherwise the nearest start above p, of a range or a single port.
    const auto later_port = ports.upper_bound(p);
    if (later_range == ranges.end() && later_port == ports.end()) return -1;
    std::uint32_t next = std::numeric_limits<std::uint32_t>::max();
    if (later_range != ranges.end()) next = later_range->first;
    if (later_port != ports.end()) next = std::min(next, *later_port);
    return static_cast<int>(next);
}

std::string format_pasv_reply(const std::uint8_t (&address)[4], std::uint16_t port) {
    std::string reply = "227 Entering Passive Mode (";
    for (std::uint8_t b : address) reply += format_uint(b) + ",";
    return reply + format_uint(port >> 8) + "," + format_uint(port & 0xFF) + ").";
}

namespace {

std::uint32_t parse_uint32(std::string_view digits) {
    const std::uint64_t value = parse_uint64(digits);
    if (value > std::numeric_limits<std::uint32_t>::max()) throw overflow();
    return static_cast<std::uint32_t>(value);
}

}  // namespace

address_text parse_port_argument(std::string_view text) {
    std::vector<std::string_view> pieces;
    for (;;) {
        const std::size_t comma = text.find(',');
        pieces.push_back(text.substr(0, comma));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    if (pieces.size() != 6) throw invalid_input();

    address_text result;
    result.host = pieces[0];
    for (std::size_t i = 1; i < 4; ++i) {
        result.host += '.';
        result.host += pieces[i];
    }
    // Both pieces are below 2^32, so the port stays below 2^41: 64 bits cannot wrap.
    const std::uint64_t port = std::uint64_t{parse_uint32(pieces[4])} * 256 + parse_uint32(pieces[5]);
    result.port = format_uint(port);
    return result;
}

std::optional<std::uint32_t> parse_ipv4_host(std::string_view host) {
    std::uint32_t address = 0;
    for (int piece = 0; piece < 4; ++piece) {
        const std::size_t dot = host.find('.');
        if ((dot == std::string_view::npos) != (piece == 3)) return std::nullopt;
        const std::string_view digits = host.substr(0, dot);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
        // Leading zeros may make the text long, never the value: skip them first.
        const std::string_view value_digits = digits.substr(std::min(digits.find_first_not_of('0'), digits.size()));
        if (value_digits.size() > 3) return std::nullopt;
        const std::uint64_t value = parse_uint64(value_digits);
        if (value > 255) return std::nullopt;
        address = address << 8 | static_cast<std::uint32_t>(value);
        if (dot != std::string_view::npos) host.remove_prefix(dot + 1);
    }
    return address;
}

}  // namespace ZT
