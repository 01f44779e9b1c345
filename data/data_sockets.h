// The socket work of data connections, apart from any session: opening a
// passive listener on the first port that can be had, accepting the client's
// connection on it, and connecting to the address of a PORT argument. Replies
// and the session's state are the caller's; nothing here sends a reply.
#pragma once

#include "data/passive_port_claims.h"
#include "lib/network_address.h"
#include "lib/socket_handle.h"
#include "lib/tcp_socket.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ZT {

// Every wait on a passive listener: for the client's connection.
constexpr double passive_wait_seconds = 30.0;

// Wait limit of the data connection: connecting, each send, each receive (an
// upload raises it to 60 seconds).
constexpr double data_wait_seconds = 30.0;

// The passive port to try after `previous` (-1 before the first try): 0 lets
// the system choose, -1 means no port is left.
using passive_port_source = std::function<int(int previous)>;

// Closes any listener and claim held, then opens `listener` (non-blocking,
// passive_wait_seconds) on `address` with the first port from `next_port` that
// can be bound and listened on, and holds it in `claim`. Port 0 (the system's
// choice) is first tried as a few random ports of the system's ephemeral range,
// bound explicitly, where the system names one (see lib/ephemeral_ports.h). A port that another
// listener of `claims` holds is passed over without a system call; a port the
// system refuses, at the bind or at the listen and for whatever reason, is busy
// like a claimed one: one in use, and one that Windows keeps for itself (the
// ranges that Hyper-V, WSL or Docker reserve, where a bind fails with
// WSAEACCES).
// Returns the listener's own address (with the port the system chose for 0), or
// nothing when no port is left or the system could not give one; then no
// listener stays open and nothing is claimed. A port for an address that is not
// IPv4 throws invalid_input; a failure to read the bound address back throws
// network_error (the listener is closed then).
std::optional<network_address> listen_on_passive_port(socket_handle& listener, passive_port_claim& claim,
                                                      passive_port_claims& claims, network_address address,
                                                      const passive_port_source& next_port);

// Waits, within the listener's timeout, for a data connection from `client`
// (an IPv4 address) and returns it; the listener is closed then. A connection
// from any other address is closed at once and the wait goes on within the same
// limit, so nobody else can take the transfer by guessing the port. Throws
// network_error_timeout when the time runs out, user_abort on a server stop.
// A connection from one of `balancers` must first bring a header naming the
// client (or naming none, for the balancer itself), read within what is left
// of the limit; without one in time it is closed at once as well.
tcp_socket accept_data_connection(socket_handle& listener, std::uint32_t client,
                                  const std::vector<std::uint32_t>& balancers = {});

// Connects `data` (wait limit data_wait_seconds) to the address of a PORT text.
// Only `client`'s own IPv4 address is ever connected to, with the host compared
// as a number, and no host is resolved as a name: any other host, a port of 0
// or above 65535, or a failed connect throws network_error_connect. A malformed
// text throws std::runtime_error "Invalid PORT syntax".
void connect_data_connection(const std::string& port_text, const network_address& client, tcp_socket& data);

}  // namespace ZT
