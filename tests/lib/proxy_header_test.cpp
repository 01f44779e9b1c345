#include "lib/proxy_header.h"

#include <gtest/gtest.h>

#include <string>

namespace ZT {
namespace {

using status = proxy_header_status;

const std::string signature{"\r\n\r\n\0\r\nQUIT\n", 12};

// A binary header: command, family, then `body` behind its 16-bit length,
// or `length` in its place when given.
std::string binary(unsigned command, unsigned family, const std::string& body, int length = -1) {
    const auto n = static_cast<unsigned>(length < 0 ? body.size() : static_cast<std::size_t>(length));
    return signature + std::string{static_cast<char>(command), static_cast<char>(family),
                                   static_cast<char>(n >> 8), static_cast<char>(n & 0xFF)} + body;
}

// 203.0.113.7:40000 to 10.0.0.1:21.
const std::string ipv4_body{"\xCB\x00\x71\x07\x0A\x00\x00\x01\x9C\x40\x00\x15", 12};
const proxied_client client{0xCB007107, 40000};

struct header_case {
    const char* name;
    std::string bytes;
    status expected;
    std::size_t count;  // complete: header length; incomplete: bytes still needed
    std::optional<proxied_client> client;
};

TEST(proxy_header, reads_good_headers_and_refuses_malformed_ones) {
    const std::string v1 = "PROXY TCP4 203.0.113.7 10.0.0.1 40000 21\r\n";
    const std::string longest = "PROXY UNKNOWN " + std::string(91, 'x') + "\r\n";
    const header_case cases[] = {
        {"v1 TCP4, FTP bytes after it", v1 + "USER a\r\n", status::complete, v1.size(), client},
        {"v1 UNKNOWN", "PROXY UNKNOWN\r\n", status::complete, 15, std::nullopt},
        {"v1 UNKNOWN with addresses", "PROXY UNKNOWN ffff::1 ::1 1 2\r\n", status::complete, 31, std::nullopt},
        {"v1 at the 107-byte limit", longest, status::complete, 107, std::nullopt},
        {"v1 over the limit", "PROXY UNKNOWN " + std::string(92, 'x') + "\r\n", status::invalid, 0, std::nullopt},
        {"v1 without CR LF at the limit", "PROXY UNKNOWN " + std::string(93, 'x'), status::invalid, 0, std::nullopt},
        {"empty", "", status::incomplete, 15, std::nullopt},
        {"v1 short prefix", "PROX", status::incomplete, 11, std::nullopt},
        {"v1 without its line end yet", v1.substr(0, 30), status::incomplete, 1, std::nullopt},
        {"v1 LF without CR", "PROXY TCP4 203.0.113.7 10.0.0.1 40000 21\n", status::invalid, 0, std::nullopt},
        {"v1 TCP6", "PROXY TCP6 ::1 ::1 40000 21\r\n", status::invalid, 0, std::nullopt},
        {"v1 UNKNOWNX", "PROXY UNKNOWNX\r\n", status::invalid, 0, std::nullopt},
        {"v1 lower case", "proxy TCP4 203.0.113.7 10.0.0.1 40000 21\r\n", status::invalid, 0, std::nullopt},
        {"v1 port over 65535", "PROXY TCP4 203.0.113.7 10.0.0.1 65536 21\r\n", status::invalid, 0, std::nullopt},
        {"v1 port with a leading zero", "PROXY TCP4 203.0.113.7 10.0.0.1 040000 21\r\n", status::invalid, 0,
         std::nullopt},
        {"v1 port missing", "PROXY TCP4 203.0.113.7 10.0.0.1 40000\r\n", status::invalid, 0, std::nullopt},
        {"v1 extra field", "PROXY TCP4 203.0.113.7 10.0.0.1 40000 21 9\r\n", status::invalid, 0, std::nullopt},
        {"v1 double space", "PROXY TCP4  203.0.113.7 10.0.0.1 40000 21\r\n", status::invalid, 0, std::nullopt},
        {"v1 address piece over 255", "PROXY TCP4 203.0.113.256 10.0.0.1 1 21\r\n", status::invalid, 0, std::nullopt},
        {"v1 address of three pieces", "PROXY TCP4 203.0.113 10.0.0.1 1 21\r\n", status::invalid, 0, std::nullopt},
        {"v1 address of a name", "PROXY TCP4 localhost 10.0.0.1 1 21\r\n", status::invalid, 0, std::nullopt},
        {"v1 address with a leading zero", "PROXY TCP4 203.0.113.07 10.0.0.1 1 21\r\n", status::invalid, 0,
         std::nullopt},
        {"v2 PROXY TCP4", binary(0x21, 0x11, ipv4_body) + "\x16\x03", status::complete, 28, client},
        {"v2 with a TLV skipped", binary(0x21, 0x11, ipv4_body + std::string("\x04\x00\x01z", 4)), status::complete,
         32, client},
        {"v2 LOCAL of any family", binary(0x20, 0x00, ""), status::complete, 16, std::nullopt},
        {"v2 LOCAL with addresses", binary(0x20, 0x11, ipv4_body), status::complete, 28, std::nullopt},
        {"v2 IPv6 family", binary(0x21, 0x21, std::string(36, '\0')), status::invalid, 0, std::nullopt},
        {"v2 UDP over IPv4", binary(0x21, 0x12, ipv4_body), status::invalid, 0, std::nullopt},
        {"v2 version 1 byte", binary(0x11, 0x11, ipv4_body), status::invalid, 0, std::nullopt},
        {"v2 unknown command", binary(0x22, 0x11, ipv4_body), status::invalid, 0, std::nullopt},
        {"v2 length too short for addresses", binary(0x21, 0x11, ipv4_body.substr(0, 8)), status::invalid, 0,
         std::nullopt},
        {"v2 length beyond the data", binary(0x21, 0x11, ipv4_body, 20), status::incomplete, 8, std::nullopt},
        {"v2 short signature", signature.substr(0, 5), status::incomplete, 11, std::nullopt},
        {"wrong signature", std::string("\r\n\r\n\0\r\nQUIX\n", 12) + std::string(8, '\0'), status::invalid, 0, std::nullopt},
        {"an FTP command", "USER anonymous\r\n", status::invalid, 0, std::nullopt},
        {"a TLS record", "\x16\x03\x01", status::invalid, 0, std::nullopt},
    };
    for (const header_case& c : cases) {
        const proxy_header_result result = parse_proxy_header(c.bytes);
        EXPECT_EQ(result.status, c.expected) << c.name;
        EXPECT_EQ(result.bytes, c.count) << c.name;
        EXPECT_EQ(result.client, c.client) << c.name;
    }
}

}  // namespace
}  // namespace ZT
