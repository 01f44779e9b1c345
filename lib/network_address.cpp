#include "lib/network_address.h"

#include "lib/abort.h"
#include "lib/errors.h"
#include "lib/text.h"

#include <cstddef>
#include <cstring>
#include <memory>

namespace ZT {

network_address network_address::any_ipv4() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = 0;
    return from_sockaddr_in(address);
}

network_address network_address::from_sockaddr_in(const sockaddr_in& address) {
    network_address result;
    result.assign(address);
    return result;
}

void network_address::assign(const void* bytes, std::size_t length) {
    const auto* first = static_cast<const std::uint8_t*>(bytes);
    if (!first) length = 0;
    bytes_.assign(first, first + length);
}

void network_address::assign(const sockaddr_in& address) { assign(&address, sizeof address); }

int network_address::family() const {
    decltype(sockaddr::sa_family) family{};
    constexpr std::size_t offset = offsetof(sockaddr, sa_family);
    if (bytes_.size() < offset + sizeof family) return AF_UNSPEC;
    std::memcpy(&family, bytes_.data() + offset, sizeof family);
    return family;
}

sockaddr_in network_address::ipv4_form() const {
    static_assert(sizeof(sockaddr_in) == 16);
    if (bytes_.size() != sizeof(sockaddr_in)) throw invalid_input();
    sockaddr_in address;
    std::memcpy(&address, bytes_.data(), sizeof address);
    return address;
}

std::uint16_t network_address::port() const { return ntohs(ipv4_form().sin_port); }

void network_address::set_port(std::uint16_t port) {
    sockaddr_in address = ipv4_form();
    address.sin_port = htons(port);
    assign(address);
}

std::uint32_t network_address::ipv4() const { return ntohl(ipv4_form().sin_addr.s_addr); }

address_text network_address::to_text() const {
    const std::uint32_t value = ipv4();
    address_text text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (shift != 24) text.host += '.';
        text.host += format_uint((value >> shift) & 0xFF);
    }
    text.port = format_uint(port());
    return text;
}

int resolve_with_retry(const std::function<int()>& attempt, double pause_seconds) {
    int result = attempt();
    for (int tries = 1; result == EAI_AGAIN && tries < resolve_attempts; ++tries) {
        sleep(pause_seconds);
        result = attempt();
    }
    return result;
}

std::vector<address_info> resolve_address(const std::string& host, const std::string& service, int family) {
    check_abort();

    addrinfo hints{};
    hints.ai_flags = 0;
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;

    addrinfo* list = nullptr;
    const int result = resolve_with_retry([&] {
        return ::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.empty() ? nullptr : service.c_str(),
                             &hints, &list);
    });
    if (result != 0) throw network_error();
    const auto release = [](addrinfo* p) { ::freeaddrinfo(p); };
    const std::unique_ptr<addrinfo, decltype(release)> owner(list, release);

    std::vector<address_info> answers;
    for (const addrinfo* entry = list; entry; entry = entry->ai_next) {
        address_info info;
        info.flags = entry->ai_flags;
        info.family = entry->ai_family;
        info.socket_type = entry->ai_socktype;
        info.protocol = entry->ai_protocol;
        info.address.assign(entry->ai_addr, entry->ai_addr ? entry->ai_addrlen : 0);
        answers.push_back(std::move(info));
    }
    return answers;
}

}  // namespace ZT
