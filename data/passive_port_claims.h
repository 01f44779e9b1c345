// The passive ports this server's own sessions are listening on. A PASV passes
// over them without asking the system, which would refuse each one anyway: on a
// busy server those refused bind and listen calls cost more than the transfer
// itself, because the system compares each one with every connection the port
// has served lately (all those still in TIME_WAIT).
#pragma once

#include <bitset>
#include <cstdint>
#include <mutex>

namespace ZT {

class passive_port_claims {
public:
    // False when a session of this server already holds the port.
    bool try_claim(std::uint16_t port);
    void release(std::uint16_t port);

private:
    std::mutex lock_;
    std::bitset<65536> held_;
};

// One session's claim on the port of its listener, released when the listener
// closes (release), when a new claim replaces it, or with the session.
class passive_port_claim {
public:
    passive_port_claim() = default;
    passive_port_claim(const passive_port_claim&) = delete;
    passive_port_claim& operator=(const passive_port_claim&) = delete;
    ~passive_port_claim() { release(); }

    // Releases what is held, then claims the port; false when another session
    // holds it (then nothing is held).
    bool claim(passive_port_claims& claims, std::uint16_t port);
    void release();

private:
    passive_port_claims* claims_ = nullptr;
    std::uint16_t port_ = 0;
};

}  // namespace ZT
