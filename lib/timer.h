// The process-wide timer service: periodic timers and watches on events, served
// by one background thread, the timer thread. The thread starts with the first
// registration and ends by itself about a second after the last one is gone.
// On top of it, run_with_deadline runs a function whose library waits end with
// user_abort once a deadline passes or the caller itself is being stopped.
#pragma once

#include "lib/event.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace ZT {

// A shared handle to one timer or watch. Copies share the registration; when
// the last copy goes (or is reset) the registration is cancelled. Once the
// cancellation has returned, a callback called under the timer lock never runs
// again for it.
class registration {
public:
    registration() = default;
    explicit registration(std::function<void()> cancel);

    // Drops this copy (cancelling when it was the last one).
    void reset() { state_.reset(); }
    explicit operator bool() const { return state_ != nullptr; }

private:
    struct canceller;
    std::shared_ptr<canceller> state_;
};

// A periodic timer. Its interval is the timer interval (30 seconds). A timer
// that falls behind catches up with at most two calls and keeps its phase.
// With `call_under_lock` the callback runs while the timer lock is held; it
// must then be quick and must not register or cancel anything.
registration add_timer(std::function<void()> callback, bool call_under_lock);

// Calls `callback` whenever `event` is found signalled (on every pass while it
// stays signalled). Every watch found signalled fires in the same pass, so one
// that stays signalled never keeps the others waiting. The service watches its
// own duplicate of the event, so the caller's event object may go before the
// registration does.
registration add_watch(std::function<void()> callback, const event_object& event, bool call_under_lock);

// Runs `function` on the calling thread with a fresh abort event installed. The
// event is set when one timer interval has passed, and when the caller's own
// abort event (if any) is set. Returns true when the function returned; false
// when it ended with user_abort because the deadline passed; throws user_abort
// when the caller's own abort event was set. Other exceptions pass through.
bool run_with_deadline(const std::function<void()>& function);

// The interval of timers registered from now on: 30 seconds unless a test asks
// for a shorter one here to keep deadline tests fast. Not for production use.
void set_timer_interval_for_tests(double seconds);
constexpr double default_timer_interval = 30.0;

// Whether the timer thread is running.
bool timer_thread_running();

// Number of periods a timer has fallen due at timer time `now`: 0 while its
// next due time, (fired + 1) x interval after its start, is still ahead.
std::uint64_t timer_due_periods(std::uint64_t fired, double interval, double start, double now);

// Calls a due timer makes for `periods` periods: one each, at most two.
constexpr std::uint64_t timer_catch_up_calls(std::uint64_t periods) { return periods < 2 ? periods : 2; }

}  // namespace ZT
