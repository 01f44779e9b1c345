#include "lib/event.h"

#include <algorithm>

namespace ZT {

void event_object::set() {
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->is_set.store(true, std::memory_order_release);
        signal();
    }
    std::lock_guard<std::mutex> guard(links_lock_);
    for (event_object* follower : followers_) follower->set();
}

void event_object::reset() {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->is_set.store(false, std::memory_order_release);
    clear();
}

void event_object::link(event_object& follower) {
    {
        std::lock_guard<std::mutex> guard(links_lock_);
        followers_.push_back(&follower);
    }
    // Set before the link was in place: a set() from now on finds the link.
    if (is_set()) follower.set();
}

void event_object::unlink(event_object& follower) {
    std::lock_guard<std::mutex> guard(links_lock_);
    followers_.erase(std::remove(followers_.begin(), followers_.end(), &follower), followers_.end());
}

}  // namespace ZT
