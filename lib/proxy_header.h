// The header a TCP balancer puts before a connection's own bytes to name the
// client it stands for: the text form ("PROXY TCP4 ...\r\n") and the binary
// form (a 12-byte signature, then a command, a family and the addresses).
// Only TCP over IPv4 names a client; a LOCAL or UNKNOWN header names none, and
// the connection keeps the balancer's own address.
#pragma once

#include "lib/tcp_socket.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ZT {

// The longest text header, its CR LF included.
constexpr std::size_t max_text_proxy_header = 107;

// The client a header names, in host byte order.
struct proxied_client {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    bool operator==(const proxied_client&) const = default;
};

enum class proxy_header_status { incomplete, invalid, complete };

struct proxy_header_result {
    proxy_header_status status = proxy_header_status::incomplete;
    // incomplete: how many more bytes the header needs at the least, so that a
    // reader that takes exactly these never takes a byte past its end;
    // complete: the header's length. 0 when invalid.
    std::size_t bytes = 0;
    // complete: the client, or nothing for LOCAL and UNKNOWN.
    std::optional<proxied_client> client;
};

// Reads a header at the start of `bytes`, which may hold more after it. Never
// throws and never reads past `bytes`.
proxy_header_result parse_proxy_header(std::string_view bytes);

// Reads a header from `connection`, exactly its bytes and no more, within the
// connection's timeout. Returns the client it names (nothing for LOCAL and
// UNKNOWN). A malformed header, or a connection that ends before its end,
// throws invalid_input; a timeout or a server stop throws as the wait does.
std::optional<proxied_client> read_proxy_header(tcp_socket& connection);

// A socket address of the client a header names.
network_address proxied_address(const proxied_client& client);

}  // namespace ZT
