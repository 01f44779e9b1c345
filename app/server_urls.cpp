#include "app/server_urls.h"

#include "lib/errors.h"

namespace ZT {

namespace {
constexpr std::uint32_t loopback = 0x7F000001;  // 127.0.0.1
constexpr std::uint16_t address_disconnected = 0x0008;
constexpr std::uint16_t address_deleted = 0x0040;
}  // namespace

bool reachable_address_type(std::uint16_t type) { return (type & (address_disconnected | address_deleted)) == 0; }

std::vector<std::string> server_urls_for(const network_address& listening,
                                         const std::vector<network_address>& local_addresses) {
    std::vector<network_address> candidates;
    if (listening.ipv4() == 0) {
        const std::uint16_t port = listening.port();
        for (network_address address : local_addresses) {
            const std::uint32_t ip = address.ipv4();
            if (ip == 0 || ip == loopback) continue;
            address.set_port(port);
            candidates.push_back(address);
        }
    } else {
        candidates.push_back(listening);
    }
    if (candidates.empty()) throw network_error();

    std::vector<std::string> lines;
    for (const network_address& address : candidates) {
        const address_text text = address.to_text();
        std::string line = "ftp://" + text.host;
        if (text.port != "21") line += ":" + text.port;
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> list_server_urls(const tcp_server& server) {
    const network_address listening = server.local_address();
    if (listening.ipv4() != 0) return server_urls_for(listening, {});
    return server_urls_for(listening, local_ipv4_addresses());
}

}  // namespace ZT
