#include "lib/ephemeral_ports.h"

namespace ZT {

// Windows lets a listener share a port only by rules of its own, and its
// search for port 0 does not slow down with closed connections: the choice
// stays with the system.
const std::optional<ephemeral_port_range>& system_ephemeral_ports() {
    static const std::optional<ephemeral_port_range> none;
    return none;
}

}  // namespace ZT
