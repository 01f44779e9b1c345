// The ftp:// lines printed at start-up: one for each address at which the
// server can be reached.
#pragma once

#include "ftp/tcp_server.h"
#include "lib/network_address.h"

#include <string>
#include <vector>

namespace ZT {

// The IPv4 addresses of the machine's interfaces, in the system's order, each a
// 16-byte socket address with port 0. Addresses that no client can reach now
// (see reachable_address_type) are left out.
std::vector<network_address> local_ipv4_addresses();

// Whether an address whose row in the system's address table has the type flags
// `type` (MIB_IPADDRROW.wType) is one that clients can reach: not one on a
// disconnected interface (MIB_IPADDR_DISCONNECTED, 0x0008) nor one being deleted
// (MIB_IPADDR_DELETED, 0x0040). Any other flag leaves the address in.
bool reachable_address_type(std::uint16_t type);

// For a server on all interfaces: every local address but 0.0.0.0 and 127.0.0.1;
// otherwise the listening address itself. No candidate throws network_error.
std::vector<std::string> list_server_urls(const tcp_server& server);

// The same from the listening address and the local addresses, for testing.
std::vector<std::string> server_urls_for(const network_address& listening,
                                         const std::vector<network_address>& local_addresses);

}  // namespace ZT
