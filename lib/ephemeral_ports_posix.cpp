#include "lib/ephemeral_ports.h"

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace ZT {

namespace {

// The whole of a small system file (its first 64 KiB), or nothing when it
// cannot be read. Plain system calls: a file stream would bring the whole of
// the C++ locale machinery into a program that has no other use for it.
std::optional<std::string> read_small_file(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0 || text.size() >= 65536) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
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
