// The "pasv-ports" value. A value is valid when every token between the
// separators (tab, LF, CR, space, comma, semicolon) is a port or a range "a-b"
// or "a:b" of decimal ports up to 65535 (an empty number reads as 0) with
// a <= b. A valid value gives containers in normal form that cover exactly the
// ports the tokens name; an invalid one fails with the fixed message and leaves
// both containers as they were.
#include "config/server_settings.h"
#include "fuzz_support.h"
#include "lib/text.h"

#include <bitset>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

using namespace ZT;

using port_set = std::bitset<65536>;

bool is_separator(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == ',' || c == ';'; }

// A decimal port: only digits, at most 65535 (leading zeros allowed).
bool read_port(std::string_view text, std::uint32_t& port) {
    port = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        port = port * 10 + static_cast<std::uint32_t>(c - '0');
        if (port > 65535) return false;
    }
    return true;
}

// The ports the value names, or false when the value is invalid.
bool expected_ports(std::string_view value, port_set& covered) {
    std::size_t start = 0;
    while (start < value.size()) {
        std::size_t end = start;
        while (end < value.size() && !is_separator(value[end])) ++end;
        const std::string_view token = value.substr(start, end - start);
        start = end + 1;
        if (token.empty()) continue;
        std::size_t split = token.find('-');
        if (split == std::string_view::npos) split = token.find(':');
        std::uint32_t first = 0;
        std::uint32_t last = 0;
        if (!read_port(token.substr(0, split), first)) return false;
        last = first;
        if (split != std::string_view::npos && !read_port(token.substr(split + 1), last)) return false;
        if (first > last) return false;
        for (std::uint32_t port = first; port <= last; ++port) covered.set(port);
    }
    return true;
}

port_set coverage(const std::set<std::uint32_t>& ports, const std::map<std::uint32_t, std::uint32_t>& ranges) {
    port_set covered;
    for (const std::uint32_t port : ports) covered.set(port);
    for (const auto& [first, last] : ranges)
        for (std::uint32_t port = first; port <= last; ++port) covered.set(port);
    return covered;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string value(fuzz::as_text(data, size));
    const auto expected = std::make_unique<port_set>();
    const bool valid = expected_ports(value, *expected);

    // Containers that already hold something, to see whether a failure keeps it.
    const std::set<std::uint32_t> old_ports = {7, 70000};
    const std::map<std::uint32_t, std::uint32_t> old_ranges = {{100, 90}, {200, 300}};
    std::set<std::uint32_t> ports = old_ports;
    std::map<std::uint32_t, std::uint32_t> ranges = old_ranges;
    try {
        parse_pasv_ports(value, ports, ranges);
    } catch (const std::runtime_error& e) {
        fuzz::check(!valid, "a valid list is accepted", value);
        fuzz::check(std::string(e.what()) == "Could not parse PASV ports list", "the failure has the fixed message",
                    e.what());
        fuzz::check(ports == old_ports && ranges == old_ranges, "a refused list leaves both containers unchanged",
                    value);
        return 0;
    } catch (const std::exception& e) {
        fuzz::fail("a refused list throws a runtime error", e.what());
    }
    fuzz::check(valid, "an invalid list is refused", value);
    fuzz::check_pasv_normal_form(ports, ranges);
    fuzz::check(coverage(ports, ranges) == *expected, "the containers cover exactly the listed ports", value);

    // The normal form written out reads back as itself.
    std::string written;
    for (const auto& [first, last] : ranges) written += format_uint(first) + ":" + format_uint(last) + ";";
    for (const std::uint32_t port : ports) written += format_uint(port) + " ";
    std::set<std::uint32_t> ports_again;
    std::map<std::uint32_t, std::uint32_t> ranges_again;
    parse_pasv_ports(written, ports_again, ranges_again);
    fuzz::check(ports_again == ports && ranges_again == ranges, "the normal form reads back as itself", written);
    return 0;
}
