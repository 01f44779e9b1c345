// Failed logins by client IPv4 address, so that guessing passwords gets slow.
// The first few failures of an address within a window are free; each one
// after them earns a pause that grows by one step per failure. A login that
// succeeds from the address forgets its failures.
//
// Ownership and threads: the server owns one table that every session uses at
// once; one lock guards it. While the table is empty (no address has failed
// lately) asking about an address takes no lock at all, so logins that succeed
// cost nothing. Times are milliseconds of a monotonic clock, passed in by the
// caller.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace ZT {

struct login_failure_rules {
    std::uint32_t free_failures = 3;        // answered without a pause
    std::uint64_t window_ms = 10 * 60 * 1000;  // counted from an address's first failure
    double pause_step_seconds = 5.0;        // the first paused failure's pause, and each next one's growth
    std::size_t capacity = 4096;            // addresses kept; the one whose window began first goes
};

class login_failures {
public:
    explicit login_failures(login_failure_rules rules = {}) : rules_(rules) {}
    login_failures(const login_failures&) = delete;
    login_failures& operator=(const login_failures&) = delete;

    // The pause that one more failure of `address` would earn at `now` (0 while
    // it stays within the free failures), or nothing when the address has no
    // failure in a running window.
    std::optional<double> standing(std::uint32_t address, std::uint64_t now);
    // Counts one failure of `address` at `now` and returns the pause it earns.
    double add_failure(std::uint32_t address, std::uint64_t now);
    // Forgets the failures of `address`.
    void clear(std::uint32_t address);

    // Addresses held, windows that have run out included until they are dropped.
    std::size_t size() const { return size_.load(std::memory_order_relaxed); }

private:
    struct record {
        std::uint32_t address;
        std::uint64_t window_start;
        std::uint32_t count;
    };

    double pause_for(std::uint32_t count) const;
    bool expired(const record& r, std::uint64_t now) const { return now - r.window_start >= rules_.window_ms; }
    // Drops the records whose window has run out (they are the first ones).
    void drop_expired(std::uint64_t now);  // lock held
    void erase(std::list<record>::iterator at);  // lock held

    const login_failure_rules rules_;
    std::mutex lock_;  // guards everything below
    std::list<record> by_window_;  // in the order their windows began
    std::unordered_map<std::uint32_t, std::list<record>::iterator> by_address_;
    std::atomic<std::size_t> size_{0};  // also read without the lock
};

}  // namespace ZT
