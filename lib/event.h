// Waitable system objects: the manual-reset event that every library thread uses
// as its abort event, and the one system wait that all blocking waits build on.
// On Windows an event is an event handle; on POSIX it is an eventfd.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace ZT {

// A system handle as an integer: a HANDLE on Windows, a file descriptor on POSIX.
using os_handle = std::intptr_t;

constexpr std::uint32_t infinite_ms = 0xFFFFFFFF;

// An object that a wait can watch. confirm() is asked after the system reports
// the object signalled; only a confirmed wake-up counts.
class waitable {
public:
    virtual ~waitable() = default;
    virtual bool confirm() { return true; }
    os_handle handle() const { return handle_; }

protected:
    explicit waitable(os_handle handle) : handle_(handle) {}
    os_handle handle_;
};

// A manual-reset event: once set it stays set until reset. Owns its handle.
// Beside the system object it keeps its state in memory, so that asking
// whether it is set (every abort check before a read, a write or a wait) needs
// no system call.
class event_object : public waitable {
public:
    event_object();  // not signalled
    ~event_object() override;
    event_object(const event_object&) = delete;
    event_object& operator=(const event_object&) = delete;

    // Sets the event and every event linked to it.
    void set();
    void reset();
    // The state that set and reset keep. A handler that sets the system object
    // directly (the stop signal's) wakes the waits on it but is not seen here.
    bool is_set() const { return state_->is_set.load(std::memory_order_acquire); }

    // Links `follower` to this event: while the link lasts, setting this event
    // sets the follower too, and linking to an event that is set already sets
    // the follower at once. Unlink before the follower goes; once unlink has
    // returned, this event never touches it again.
    void link(event_object& follower);
    void unlink(event_object& follower);

    // A second event object over a duplicate of this one's handle: setting
    // either sets both. Failure throws bug_check.
    std::unique_ptr<event_object> duplicate() const;

private:
    // What the holders of one system object share: a duplicate's set is seen by
    // the original's is_set and the other way round.
    struct shared_state {
        std::atomic<bool> is_set{false};
        std::mutex lock;  // orders set and reset, so that memory and system agree
    };

    event_object(os_handle handle, std::shared_ptr<shared_state> state)
        : waitable(handle), state_(std::move(state)) {}
    // Sets or clears the system object only.
    void signal();
    void clear();

    std::shared_ptr<shared_state> state_;
    std::mutex links_lock_;  // guards followers_
    std::vector<event_object*> followers_;
};

// Waits until one of the handles is signalled or the time is up. Returns the
// lowest index among the signalled handles, or -1 on timeout or failure.
int wait_for_handles(const os_handle* handles, std::size_t count, std::uint32_t milliseconds);

// Sleeps without watching anything; infinite_ms sleeps for ever.
void system_sleep(std::uint32_t milliseconds);

// Milliseconds of a monotonic clock.
std::uint64_t tick_count_ms();

}  // namespace ZT
