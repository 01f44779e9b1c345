// The pure pieces of passive and active data-connection setup: the order in
// which configured passive ports are tried, the text of the 227 reply, and the
// reading of a PORT argument. Nothing here touches a socket.
#pragma once

#include "lib/network_address.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace ZT {

// The port to try after `previous` (-1 before the first try), from the single
// ports and the ranges (first -> last, inclusive) as normalised at load time.
// Returns 0 when nothing is configured (the system is to choose), -1 when no
// port is left. The walk goes upward through every configured port once and
// never wraps. Because a previous value below 1 counts as 0, a range starting
// at 0 yields 1 first: port 0 is never tried from a configured list.
int next_configured_passive_port(const std::set<std::uint32_t>& ports,
                                 const std::map<std::uint32_t, std::uint32_t>& ranges, int previous);

// "227 Entering Passive Mode (a,b,c,d,hi,lo)." without a line end: the four
// address bytes in network order, then the port's high and low byte, each in
// plain decimal.
std::string format_pasv_reply(const std::uint8_t (&address)[4], std::uint16_t port);

// Reads a PORT argument "h1,h2,h3,h4,p1,p2". The host is the first four pieces
// joined with "." exactly as typed (name resolution judges them later); the
// port is p1 * 256 + p2 as decimal text, not checked against 65535. Exactly six
// comma-separated pieces, empty ones included, or invalid_input. p1 and p2 are
// unsigned 32-bit decimals: an empty piece reads as 0, a non-digit throws
// invalid_input, a value past 32 bits throws overflow.
address_text parse_port_argument(std::string_view text);

// The IPv4 address (host byte order) that the host text of a PORT argument
// names: four pieces separated by ".", each one or more decimal digits with a
// value up to 255, leading zeros allowed ("127.000.0.1" is 127.0.0.1). Any
// other text (an empty piece, a letter, a name, a value over 255) gives nothing.
std::optional<std::uint32_t> parse_ipv4_host(std::string_view host);

}  // namespace ZT
