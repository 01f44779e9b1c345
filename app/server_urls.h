// The ftp:// lines printed at start-up: one for each address at which the
// server can be reached.
#pragma once

#include "ftp/tcp_server.h"
#include "lib/network_address.h"

#include <string>
#include <vector>

namespace ZT {

// The IPv4 addresses of the machine's interfaces, in the system's order, each a
// 16-byte socket address with port 0.
std::vector<network_address> local_ipv4_addresses();

// For a server on all interfaces: every local address but 0.0.0.0 and 127.0.0.1;
// otherwise the listening address itself. No candidate throws network_error.
std::vector<std::string> list_server_urls(const tcp_server& server);

// The same from the listening address and the local addresses, for testing.
std::vector<std::string> server_urls_for(const network_address& listening,
                                         const std::vector<network_address>& local_addresses);

}  // namespace ZT
