#include "ftp/login_dialogues.h"

#include <unordered_map>

namespace ZT {

std::ptrdiff_t dialogue_to_end(const std::vector<dialogue_view>& dialogues, std::uint64_t now,
                               std::uint64_t min_age_ms) {
    const auto qualifies = [&](const dialogue_view& d) { return now >= d.started_ms + min_age_ms; };
    std::unordered_map<std::uint32_t, std::size_t> held;
    std::size_t most = 0;
    for (const dialogue_view& d : dialogues) {
        if (qualifies(d) && ++held[d.address] > most) most = held[d.address];
    }
    std::ptrdiff_t chosen = -1;
    for (std::size_t i = 0; i < dialogues.size(); ++i) {
        const dialogue_view& d = dialogues[i];
        if (!qualifies(d) || held[d.address] != most) continue;
        if (chosen < 0 || d.started_ms < dialogues[static_cast<std::size_t>(chosen)].started_ms) {
            chosen = static_cast<std::ptrdiff_t>(i);
        }
    }
    return chosen;
}

login_dialogues::entry::entry(login_dialogues& registry, std::uint32_t address, event_object& abort)
    : registry_(registry), view_{address, tick_count_ms()}, abort_(abort) {
    std::lock_guard<std::mutex> guard(registry_.lock_);
    index_ = registry_.entries_.size();
    registry_.entries_.push_back(this);
}

login_dialogues::entry::~entry() {
    std::lock_guard<std::mutex> guard(registry_.lock_);
    std::vector<entry*>& entries = registry_.entries_;
    entries[index_] = entries.back();
    entries[index_]->index_ = index_;
    entries.pop_back();
}

bool login_dialogues::end_one(std::uint64_t now) {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<dialogue_view> views;
    std::vector<entry*> candidates;
    views.reserve(entries_.size());
    candidates.reserve(entries_.size());
    for (entry* e : entries_) {
        if (e->ended_) continue;  // ended already, still unwinding
        views.push_back(e->view_);
        candidates.push_back(e);
    }
    const std::ptrdiff_t chosen = dialogue_to_end(views, now);
    if (chosen < 0) return false;
    entry* victim = candidates[static_cast<std::size_t>(chosen)];
    victim->ended_ = true;
    victim->abort_.set();
    return true;
}

}  // namespace ZT
