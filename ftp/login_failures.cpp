#include "ftp/login_failures.h"

#include <iterator>
#include <limits>

namespace ZT {

double login_failures::pause_for(std::uint32_t count) const {
    if (count <= rules_.free_failures) return 0.0;
    return rules_.pause_step_seconds * static_cast<double>(count - rules_.free_failures);
}

void login_failures::erase(std::list<record>::iterator at) {
    by_address_.erase(at->address);
    by_window_.erase(at);
    size_.store(by_window_.size(), std::memory_order_relaxed);
}

void login_failures::drop_expired(std::uint64_t now) {
    while (!by_window_.empty() && expired(by_window_.front(), now)) erase(by_window_.begin());
}

std::optional<double> login_failures::standing(std::uint32_t address, std::uint64_t now) {
    if (size() == 0) return std::nullopt;
    std::lock_guard<std::mutex> guard(lock_);
    drop_expired(now);
    const auto found = by_address_.find(address);
    if (found == by_address_.end()) return std::nullopt;
    return pause_for(found->second->count + 1);
}

double login_failures::add_failure(std::uint32_t address, std::uint64_t now) {
    std::lock_guard<std::mutex> guard(lock_);
    drop_expired(now);
    const auto found = by_address_.find(address);
    if (found != by_address_.end()) {
        record& r = *found->second;
        if (r.count < std::numeric_limits<std::uint32_t>::max()) ++r.count;
        return pause_for(r.count);
    }
    if (rules_.capacity == 0) return 0.0;
    if (by_window_.size() >= rules_.capacity) erase(by_window_.begin());
    const auto slot = by_address_.emplace(address, by_window_.end()).first;
    try {
        by_window_.push_back(record{address, now, 1});
    } catch (...) {
        by_address_.erase(slot);
        throw;
    }
    slot->second = std::prev(by_window_.end());
    size_.store(by_window_.size(), std::memory_order_relaxed);
    return pause_for(1);
}

void login_failures::clear(std::uint32_t address) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = by_address_.find(address);
    if (found != by_address_.end()) erase(found->second);
}

}  // namespace ZT
