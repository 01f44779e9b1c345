#include "data/data_sockets.h"

#include "data/passive_mode.h"
#include "lib/ephemeral_ports.h"
#include "lib/errors.h"
#include "lib/guid.h"
#include "lib/proxy_header.h"
#include "lib/text.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <stdexcept>

namespace ZT {

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A new listener, not yet bound. Fails with network_error (no socket can be made).
void open_listener(socket_handle& listener) {
    listener.open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    listener.set_timeout(passive_wait_seconds);
    // A port whose last data connection lingers in TIME_WAIT serves again at
    // once; no other socket can take the address and port while it listens.
    listener.prepare_passive_listener();
}

// Binds the listener to the address and starts listening; false when the port
// is taken. The listen belongs to the attempt: with rebinding allowed (POSIX), two
// sockets can bind one port at the same moment and only the first to listen
// keeps it, so the other must go on to the next port like any taken one. A
// socket whose bind failed serves the next attempt; one that bound does not.
bool start_listening(socket_handle& listener, const network_address& address) {
    try {
        if (!listener.is_open()) open_listener(listener);
    } catch (const network_error&) {
        listener.close();
        return false;
    }
    if (!listener.try_bind(address)) return false;
    if (listener.try_listen()) return true;
    listener.close();
    return false;
}

// Ports of the system's ephemeral range tried at random before the system is
// left to choose.
constexpr int random_port_attempts = 16;

// Where no passive ports are configured: a port of the system's ephemeral
// range picked at random and bound explicitly, the kind of port the system
// would have given. The system's own search for port 0 passes over every port
// that holds a socket in TIME_WAIT, and each download leaves one behind (the
// server closes first), so under many short transfers each search scans
// thousands of ports; an explicit bind with rebinding allowed pays nothing for
// them. False (nothing open, nothing claimed) when the system names no range or
// no try succeeds.
// A seed for the port choice of one thread, from the system's random bytes (a
// new GUID), or from the clock when the system has none to give. (Not
// std::random_device: it ties the program to a newer C library.)
std::uint32_t random_seed() {
    try {
        std::uint8_t bytes[16];
        new_guid(bytes);
        return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
               static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    } catch (const std::runtime_error&) {
        return static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
}

bool listen_on_random_port(socket_handle& listener, passive_port_claim& claim, passive_port_claims& claims,
                           network_address& address) {
    const std::optional<ephemeral_port_range>& range = system_ephemeral_ports();
    if (!range) return false;
    thread_local std::minstd_rand random(random_seed());
    std::uniform_int_distribution<std::uint32_t> pick(range->first, range->last);
    for (int attempt = 0; attempt < random_port_attempts; ++attempt) {
        const auto port = static_cast<std::uint16_t>(pick(random));
        if (!range->offers(port)) continue;
        address.set_port(port);  // invalid_input unless IPv4
        if (!claim.claim(claims, port)) continue;  // another session listens there
        if (start_listening(listener, address)) return true;
        claim.release();
    }
    listener.close();
    return false;
}

// Whether an accepted connection's peer has the given IPv4 address.
bool comes_from(const network_address& peer, std::uint32_t address) {
    try {
        return peer.ipv4() == address;
    } catch (const invalid_input&) {
        return false;  // not an IPv4 peer at all
    }
}

// Whether an accepted connection comes from one of the listed balancers.
bool from_balancer(const network_address& peer, const std::vector<std::uint32_t>& balancers) {
    if (balancers.empty()) return false;
    try {
        return std::find(balancers.begin(), balancers.end(), peer.ipv4()) != balancers.end();
    } catch (const invalid_input&) {
        return false;
    }
}

}  // namespace

std::optional<network_address> listen_on_passive_port(socket_handle& listener, passive_port_claim& claim,
                                                      passive_port_claims& claims, network_address address,
                                                      const passive_port_source& next_port) {
    listener.close();
    claim.release();
    for (int previous = -1;;) {
        const int port = next_port(previous);
        // A port bound explicitly is the listener's address as it stands.
        if (port == 0 && listen_on_random_port(listener, claim, claims, address)) return address;
        if (port >= 0) address.set_port(static_cast<std::uint16_t>(port));  // invalid_input unless IPv4
        // A port that another session of this server listens on is passed over
        // without a system call; the system decides about every other one.
        const bool claimed = port > 0 && claim.claim(claims, static_cast<std::uint16_t>(port));
        if (claimed && start_listening(listener, address)) return address;
        if (port == 0 && start_listening(listener, address)) break;
        claim.release();
        if (port <= 0) {
            // No port left, or the system could not give one.
            listener.close();
            return std::nullopt;
        }
        previous = port;  // taken: try the next port
    }
    try {
        return listener.local_address();  // the port the system chose for port 0
    } catch (...) {
        listener.close();
        claim.release();
        throw;
    }
}

tcp_socket accept_data_connection(socket_handle& listener, std::uint32_t client,
                                  const std::vector<std::uint32_t>& balancers) {
    const double limit = listener.timeout();
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const double left = limit < 0 ? -1.0 : limit - seconds_since(start);
        if (limit >= 0 && left <= 0) throw network_error_timeout();
        if (listener.try_wait(true, false, left) == 0) throw network_error_timeout();
        network_address peer;
        const socket_t accepted = listener.accept_pending(&peer);
        if (accepted == invalid_socket) continue;  // it went away before the accept
        tcp_socket data(accepted);
        if (from_balancer(peer, balancers)) {
            const double header_left = limit < 0 ? -1.0 : limit - seconds_since(start);
            if (limit >= 0 && header_left <= 0) throw network_error_timeout();
            data.set_timeout(header_left);
            try {
                if (const std::optional<proxied_client> named = read_proxy_header(data)) {
                    peer = proxied_address(*named);
                }
            } catch (const user_abort&) {
                throw;
            } catch (const std::exception&) {
                continue;  // no header in time: closed, as a stranger's connection is
            }
        }
        if (comes_from(peer, client)) {
            listener.close();
            return data;
        }
    }
}

void connect_data_connection(const std::string& port_text, const network_address& client, tcp_socket& data) {
    address_text target;
    try {
        target = parse_port_argument(port_text);
    } catch (const std::exception&) {
        throw std::runtime_error("Invalid PORT syntax");
    }
    std::uint64_t port = 0;
    try {
        port = parse_uint64(target.port);
    } catch (const std::exception&) {
        throw network_error_connect();
    }
    network_address address = client;
    // The host is compared as a number, so "127,000,0,1" names 127.0.0.1 too.
    const std::optional<std::uint32_t> host = parse_ipv4_host(target.host);
    if (!host || *host != address.ipv4() || port == 0 || port > 0xFFFF) throw network_error_connect();
    address.set_port(static_cast<std::uint16_t>(port));
    data.set_timeout(data_wait_seconds);
    connect_to_any(data, {address_info{0, AF_INET, SOCK_STREAM, IPPROTO_TCP, address}});
}

}  // namespace ZT
