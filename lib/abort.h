// Abort events and cancellable waits. Every library thread has an abort event;
// while the thread runs it is the thread's current abort event, and every
// blocking wait of the library ends with user_abort as soon as it is set. A
// thread without one (the main thread) waits without that check.
#pragma once

#include "lib/event.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace ZT {

event_object* current_abort_event();

// Installs `event` as the calling thread's current abort event and returns the
// one it replaces.
event_object* set_current_abort_event(event_object* event);

// Installs an abort event for the life of the scope, then restores the previous one.
class abort_event_scope {
public:
    explicit abort_event_scope(event_object* event) : previous_(set_current_abort_event(event)) {}
    ~abort_event_scope() { set_current_abort_event(previous_); }
    abort_event_scope(const abort_event_scope&) = delete;
    abort_event_scope& operator=(const abort_event_scope&) = delete;
    event_object* previous() const { return previous_; }

private:
    event_object* previous_;
};

// Throws user_abort when the current abort event (or the given event) is set.
void check_abort();
void check_abort(const event_object& event);

// Waits for one of the objects; returns its index, or -1 when the time is up.
// A negative time waits without limit. Throws user_abort when the current abort
// event is set, which wins over any object signalled at the same time.
int wait_any(waitable* const* objects, std::size_t count, double seconds);

// Waits for one object without a time limit.
void wait_one(waitable& object);

// Sleeps; a negative time sleeps until aborted (for ever without an abort event).
void sleep(double seconds);

std::unique_ptr<event_object> duplicate(const event_object& event);

// Milliseconds for a wait: infinite_ms for a negative time, otherwise rounded.
std::uint32_t seconds_to_ms(double seconds);

}  // namespace ZT
