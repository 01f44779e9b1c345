// Socket addresses as plain bytes, and name resolution.
#pragma once

#include "lib/socket_api.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ZT {

// An IPv4 address as dotted decimal and its port as decimal text.
struct address_text {
    std::string host;
    std::string port;
};

// The bytes of one system socket address of any family. An empty address means
// no address. The IPv4 accessors require exactly the 16 bytes of a sockaddr_in
// and throw invalid_input for anything else.
class network_address {
public:
    network_address() = default;
    network_address(const void* bytes, std::size_t length) { assign(bytes, length); }

    // AF_INET, INADDR_ANY, port 0.
    static network_address any_ipv4();
    static network_address from_sockaddr_in(const sockaddr_in& address);

    void assign(const void* bytes, std::size_t length);
    void assign(const sockaddr_in& address);
    void clear() { bytes_.clear(); }

    bool empty() const { return bytes_.empty(); }
    std::size_t size() const { return bytes_.size(); }
    const std::uint8_t* data() const { return bytes_.data(); }
    const sockaddr* as_sockaddr() const { return reinterpret_cast<const sockaddr*>(bytes_.data()); }
    // The address family, AF_UNSPEC for an empty (or too short) address.
    int family() const;

    // Port and address in host byte order.
    std::uint16_t port() const;
    void set_port(std::uint16_t port);
    std::uint32_t ipv4() const;
    address_text to_text() const;

    bool operator==(const network_address& other) const = default;

private:
    sockaddr_in ipv4_form() const;
    std::vector<std::uint8_t> bytes_;
};

// One answer of name resolution, copied from the system's record.
struct address_info {
    std::int32_t flags = 0;
    std::int32_t family = 0;
    std::int32_t socket_type = 0;
    std::int32_t protocol = 0;
    network_address address;
};

// A temporary resolution failure is tried again this many times in all, with an
// abortable pause between tries, before it counts as a failure.
constexpr int resolve_attempts = 10;
constexpr double resolve_retry_pause = 0.1;

// Calls `attempt` (one resolver call returning its result code) until it gives
// anything but the temporary failure EAI_AGAIN, at most resolve_attempts times,
// sleeping `pause_seconds` between tries. Returns the last result. The pause
// throws user_abort when the thread's abort event is set.
int resolve_with_retry(const std::function<int()>& attempt, double pause_seconds = resolve_retry_pause);

// Resolves a stream TCP address with getaddrinfo; `family` AF_UNSPEC asks for any.
// An empty host or service is passed as none. Checks the abort event first.
// Any failure throws network_error; the results keep the system's order.
std::vector<address_info> resolve_address(const std::string& host, const std::string& service, int family);

}  // namespace ZT
