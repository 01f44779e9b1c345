// The login dialogues that run now, so that a full server can make room for a
// new connection fairly: it ends the stalled dialogue of the client address
// that holds the most of them, never a logged-in session and never one that
// has only just begun.
//
// Ownership and threads: the server owns one registry. Each session enters its
// dialogue from its worker for the time the dialogue runs (an entry object on
// its stack); the accept thread ends one through end_one. One lock guards the
// list, and an entry's abort event is only set under it, so an event is never
// touched after its dialogue has left.
#pragma once

#include "lib/event.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace ZT {

// A dialogue as the choice sees it.
struct dialogue_view {
    std::uint32_t address;
    std::uint64_t started_ms;
};

// Dialogues younger than this are never ended: bursts of quick logins finish
// well within it.
constexpr std::uint64_t min_dialogue_age_ms = 2000;

// Which dialogue to end at `now`: of the dialogues that have lasted at least
// `min_age_ms`, the longest-running one of the address that holds the most of
// them (between addresses that hold as many, the one whose dialogue has run
// longest). Its index, or -1 when none qualifies.
std::ptrdiff_t dialogue_to_end(const std::vector<dialogue_view>& dialogues, std::uint64_t now,
                               std::uint64_t min_age_ms = min_dialogue_age_ms);

class login_dialogues {
public:
    login_dialogues() = default;
    login_dialogues(const login_dialogues&) = delete;
    login_dialogues& operator=(const login_dialogues&) = delete;

    // One running dialogue, listed for its lifetime. Setting `abort` must end
    // the dialogue: it is the abort event its waits watch.
    class entry {
    public:
        entry(login_dialogues& registry, std::uint32_t address, event_object& abort);
        ~entry();
        entry(const entry&) = delete;
        entry& operator=(const entry&) = delete;

    private:
        friend class login_dialogues;
        login_dialogues& registry_;
        dialogue_view view_;
        event_object& abort_;
        bool ended_ = false;
        std::size_t index_ = 0;  // its place in the registry's list
    };

    // Ends the dialogue that dialogue_to_end picks among those not ended yet, by
    // setting its abort event. False when none qualifies.
    bool end_one(std::uint64_t now);

private:
    std::mutex lock_;
    std::vector<entry*> entries_;
};

}  // namespace ZT
