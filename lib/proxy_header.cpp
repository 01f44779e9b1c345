#include "lib/proxy_header.h"

#include "lib/errors.h"

#include <algorithm>
#include <string>

namespace ZT {

namespace {

constexpr std::string_view binary_signature{"\r\n\r\n\0\r\nQUIT\n", 12};
constexpr std::string_view text_prefix = "PROXY ";
constexpr std::size_t binary_fixed_part = 16;  // signature, command, family, length
// The shortest text header, "PROXY UNKNOWN\r\n".
constexpr std::size_t min_text_header = 15;
constexpr unsigned char command_local = 0x20;
constexpr unsigned char command_proxy = 0x21;
constexpr unsigned char tcp_over_ipv4 = 0x11;
constexpr std::size_t ipv4_addresses_part = 12;  // two addresses, two ports

proxy_header_result invalid() { return {proxy_header_status::invalid, 0, std::nullopt}; }
proxy_header_result incomplete(std::size_t more) { return {proxy_header_status::incomplete, more, std::nullopt}; }

// Dotted decimal, four pieces of one to three digits up to 255, no leading zero.
std::optional<std::uint32_t> text_ipv4(std::string_view text) {
    std::uint32_t address = 0;
    for (int piece = 0; piece < 4; ++piece) {
        const std::size_t dot = text.find('.');
        const std::string_view digits = piece < 3 ? text.substr(0, dot) : text;
        if ((piece < 3 && dot == std::string_view::npos) || digits.empty() || digits.size() > 3) return std::nullopt;
        if (digits.size() > 1 && digits[0] == '0') return std::nullopt;
        std::uint32_t value = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + static_cast<std::uint32_t>(c - '0');
        }
        if (value > 255) return std::nullopt;
        address = address << 8 | value;
        if (piece < 3) text.remove_prefix(dot + 1);
    }
    return address;
}

// A decimal port of one to five digits up to 65535, no leading zero.
std::optional<std::uint16_t> text_port(std::string_view text) {
    if (text.empty() || text.size() > 5 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value > 0xFFFF) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

proxy_header_result parse_text(std::string_view bytes) {
    const std::size_t line_feed = bytes.substr(0, max_text_proxy_header).find('\n');
    if (line_feed == std::string_view::npos) {
        if (bytes.size() >= max_text_proxy_header) return invalid();
        return incomplete(bytes.size() < min_text_header ? min_text_header - bytes.size() : 1);
    }
    const std::size_t length = line_feed + 1;
    if (line_feed == 0 || bytes[line_feed - 1] != '\r') return invalid();
    std::string_view line = bytes.substr(text_prefix.size(), line_feed - 1 - text_prefix.size());
    if (line == "UNKNOWN" || line.substr(0, 8) == "UNKNOWN ") return {proxy_header_status::complete, length, std::nullopt};
    if (line.substr(0, 5) != "TCP4 ") return invalid();
    line.remove_prefix(5);
    std::string_view fields[4];
    for (int i = 0; i < 4; ++i) {
        const std::size_t space = line.find(' ');
        if ((i < 3) != (space != std::string_view::npos)) return invalid();
        fields[i] = line.substr(0, space);
        if (i < 3) line.remove_prefix(space + 1);
    }
    const auto source = text_ipv4(fields[0]);
    const auto destination = text_ipv4(fields[1]);
    const auto source_port = text_port(fields[2]);
    const auto destination_port = text_port(fields[3]);
    if (!source || !destination || !source_port || !destination_port) return invalid();
    return {proxy_header_status::complete, length, proxied_client{*source, *source_port}};
}

std::uint32_t big_endian(std::string_view bytes) {
    std::uint32_t value = 0;
    for (const char c : bytes) value = value << 8 | static_cast<unsigned char>(c);
    return value;
}

proxy_header_result parse_binary(std::string_view bytes) {
    if (bytes.size() < binary_fixed_part) return incomplete(binary_fixed_part - bytes.size());
    const auto command = static_cast<unsigned char>(bytes[12]);
    const auto family = static_cast<unsigned char>(bytes[13]);
    const std::size_t length = binary_fixed_part + big_endian(bytes.substr(14, 2));
    if (command != command_local && command != command_proxy) return invalid();
    if (command == command_proxy && (family != tcp_over_ipv4 || length < binary_fixed_part + ipv4_addresses_part)) {
        return invalid();
    }
    if (bytes.size() < length) return incomplete(length - bytes.size());
    // What follows the addresses (type-length-value fields) names nothing we use.
    if (command == command_local) return {proxy_header_status::complete, length, std::nullopt};
    const std::string_view addresses = bytes.substr(binary_fixed_part, ipv4_addresses_part);
    return {proxy_header_status::complete, length,
            proxied_client{big_endian(addresses.substr(0, 4)), static_cast<std::uint16_t>(big_endian(addresses.substr(8, 2)))}};
}

// Whether `bytes` and `form` agree as far as both go.
bool starts_like(std::string_view bytes, std::string_view form) {
    const std::size_t common = std::min(bytes.size(), form.size());
    return bytes.substr(0, common) == form.substr(0, common);
}

}  // namespace

proxy_header_result parse_proxy_header(std::string_view bytes) {
    if (bytes.empty()) return incomplete(min_text_header);
    if (starts_like(bytes, text_prefix)) {
        if (bytes.size() < text_prefix.size()) return incomplete(min_text_header - bytes.size());
        return parse_text(bytes);
    }
    if (starts_like(bytes, binary_signature)) return parse_binary(bytes);
    return invalid();
}

std::optional<proxied_client> read_proxy_header(tcp_socket& connection) {
    std::string bytes;
    for (;;) {
        const proxy_header_result result = parse_proxy_header(bytes);
        if (result.status == proxy_header_status::complete) return result.client;
        if (result.status == proxy_header_status::invalid) throw invalid_input();
        const std::size_t had = bytes.size();
        bytes.resize(had + result.bytes);
        if (connection.read_exactly(bytes.data() + had, result.bytes) < result.bytes) throw invalid_input();
    }
}

network_address proxied_address(const proxied_client& client) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(client.address);
    address.sin_port = htons(client.port);
    return network_address::from_sockaddr_in(address);
}

}  // namespace ZT
