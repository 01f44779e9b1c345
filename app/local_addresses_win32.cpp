#include "app/server_urls.h"

#include "lib/errors.h"
#include "lib/socket_api.h"

#include <iphlpapi.h>

#include <vector>

namespace ZT {

std::vector<network_address> local_ipv4_addresses() {
    std::vector<unsigned char> buffer(4096);
    for (;;) {
        ULONG size = static_cast<ULONG>(buffer.size());
        const DWORD result = GetIpAddrTable(reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data()), &size, FALSE);
        if (result == NO_ERROR) break;
        if (result == ERROR_INSUFFICIENT_BUFFER && size > buffer.size()) {
            buffer.resize(size);
            continue;
        }
        throw network_error();
    }
    const auto* table = reinterpret_cast<const MIB_IPADDRTABLE*>(buffer.data());
    std::vector<network_address> addresses;
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        if (!reachable_address_type(table->table[i].wType)) continue;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = table->table[i].dwAddr;
        addresses.push_back(network_address::from_sockaddr_in(address));
    }
    return addresses;
}

}  // namespace ZT
