#include "app/server_urls.h"

#include "lib/errors.h"
#include "lib/socket_api.h"

#include <ifaddrs.h>

namespace ZT {

std::vector<network_address> local_ipv4_addresses() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) throw network_error();
    std::vector<network_address> addresses;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
        sockaddr_in address = *reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        address.sin_port = 0;
        addresses.push_back(network_address::from_sockaddr_in(address));
    }
    ::freeifaddrs(list);
    return addresses;
}

}  // namespace ZT
