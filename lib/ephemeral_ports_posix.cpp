#include "lib/ephemeral_ports.h"

#include <fstream>
#include <iterator>
#include <string>

namespace ZT {

namespace {

// The whole of a small system file, or nothing when it cannot be read.
std::optional<std::string> read_small_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return text;
}

std::optional<ephemeral_port_range> read_system_range() {
    const std::optional<std::string> range_text = read_small_file("/proc/sys/net/ipv4/ip_local_port_range");
    if (!range_text) return std::nullopt;
    std::optional<ephemeral_port_range> range = parse_ephemeral_range(*range_text);
    if (!range) return std::nullopt;
    // Without a readable list of reserved ports, better leave the choice to the
    // system than hand out a port it keeps back.
    const std::optional<std::string> reserved = read_small_file("/proc/sys/net/ipv4/ip_local_reserved_ports");
    if (reserved && !add_reserved_ports(*range, *reserved)) return std::nullopt;
    return range;
}

}  // namespace

const std::optional<ephemeral_port_range>& system_ephemeral_ports() {
    static const std::optional<ephemeral_port_range> range = read_system_range();
    return range;
}

}  // namespace ZT
