#include "data/passive_port_claims.h"

namespace ZT {

bool passive_port_claims::try_claim(std::uint16_t port) {
    const std::lock_guard<std::mutex> guard(lock_);
    if (held_.test(port)) return false;
    held_.set(port);
    return true;
}

void passive_port_claims::release(std::uint16_t port) {
    const std::lock_guard<std::mutex> guard(lock_);
    held_.reset(port);
}

bool passive_port_claim::claim(passive_port_claims& claims, std::uint16_t port) {
    release();
    if (!claims.try_claim(port)) return false;
    claims_ = &claims;
    port_ = port;
    return true;
}

void passive_port_claim::release() {
    if (claims_ == nullptr) return;
    claims_->release(port_);
    claims_ = nullptr;
}

}  // namespace ZT
