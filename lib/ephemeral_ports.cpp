#include "lib/ephemeral_ports.h"

#include "lib/text.h"

#include <vector>

namespace ZT {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

// A port from 0 to 65535 written in decimal digits only.
std::optional<std::uint16_t> parse_port(std::string_view digits) {
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const std::uint64_t value = parse_uint64(digits);
    if (value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<ephemeral_port_range> parse_ephemeral_range(std::string_view text) {
    text = trimmed(text);
    std::size_t gap = 0;
    while (gap < text.size() && !is_blank(text[gap])) ++gap;
    const std::optional<std::uint16_t> first = parse_port(text.substr(0, gap));
    const std::optional<std::uint16_t> last = parse_port(trimmed(text.substr(gap)));
    if (!first || !last || *first == 0 || *first > *last) return std::nullopt;
    ephemeral_port_range range;
    range.first = *first;
    range.last = *last;
    return range;
}

bool add_reserved_ports(ephemeral_port_range& range, std::string_view text) {
    text = trimmed(text);
    std::vector<std::uint16_t> ports;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        const std::size_t dash = item.find('-');
        const std::optional<std::uint16_t> low = parse_port(item.substr(0, dash));
        const std::optional<std::uint16_t> high =
            dash == std::string_view::npos ? low : parse_port(item.substr(dash + 1));
        if (!low || !high || *low > *high) return false;
        // Only the ports inside the range matter.
        for (std::uint32_t port = std::max<std::uint32_t>(*low, range.first);
             port <= std::min<std::uint32_t>(*high, range.last); ++port)
            ports.push_back(static_cast<std::uint16_t>(port));
    }
    range.reserved.insert(ports.begin(), ports.end());
    return true;
}

}  // namespace ZT
