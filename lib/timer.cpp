#include "lib/timer.h"

#include "lib/abort.h"
#include "lib/errors.h"
#include "lib/thread.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <list>
#include <mutex>
#include <vector>

namespace ZT {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

struct timer_record {
    std::function<void()> callback;
    double interval = default_timer_interval;
    std::uint64_t fired = 0;  // periods already accounted for
    double start = 0;         // timer time at registration
    bool active = true;
    bool call_under_lock = false;
};

struct watch_record {
    std::function<void()> callback;
    std::unique_ptr<event_object> object;  // the service's own duplicate
    bool active = true;
    bool call_under_lock = false;
};

struct timer_service {
    std::mutex lock;  // guards everything below and the records' fields
    std::list<std::shared_ptr<timer_record>> timers;
    std::list<std::shared_ptr<watch_record>> watches;
    event_object wake;  // set on registration and when the last one goes
    bool running = false;
    // The timer time at which the thread next looks at the lists without being
    // woken; a registration that falls due later need not wake it.
    double looks_again_at = -infinity;
    std::uint64_t base = 0;  // tick count at the thread's last start
    double interval = default_timer_interval;
};

// Created on first use and never destroyed: the detached timer thread may still
// be running while the process exits.
timer_service& service() {
    static timer_service* const instance = new timer_service;
    return *instance;
}

// One wait of the system watches at most this many objects (the Windows limit).
constexpr std::size_t max_wait_objects = 64;
// With more watches than one wait can hold, they are polled this often.
constexpr double watch_poll_seconds = 0.05;
// How long an idle thread waits before it may end.
constexpr double idle_wait_seconds = 1.0;

double timer_time(const timer_service& s) { return static_cast<double>(tick_count_ms() - s.base) * 0.001; }

double timer_remaining(std::uint64_t fired, double interval, double start, double now) {
    return static_cast<double>(fired + 1) * interval - (now - start);
}

std::uint64_t periods_for(double remaining, double interval) {
    if (remaining > 0) return 0;
    return static_cast<std::uint64_t>(std::floor(-remaining / interval)) + 1;
}

// Callbacks are not expected to throw; one that does must not end the service.
void call_quietly(const std::function<void()>& callback) {
    try {
        callback();
    } catch (...) {
    }
}

void timer_thread_procedure();

// Starts the thread when it is not running (the timer time is then 0), else
// wakes it, unless it will look at the lists again by `due` anyway, so that it
// sees the new registration in time. Returns the timer time. The timer lock is
// held.
double ensure_timer_thread(timer_service& s, double due_after) {
    if (!s.running) {
        s.base = tick_count_ms();
        s.running = true;
        s.looks_again_at = -infinity;
        try {
            run_detached(thread_priority_normal, timer_thread_procedure);
        } catch (...) {
            s.running = false;
            throw;
        }
        return 0.0;
    }
    const double now = timer_time(s);
    if (now + due_after < s.looks_again_at) s.wake.set();
    return now;
}

// Calls a due timer's callback once per period, at most twice, then accounts
// for every period so that it keeps its phase. `guard` owns the lock when the
// callback runs under it; otherwise the lock is taken only to test the active
// flag and to update the count.
void fire_timer(std::unique_lock<std::mutex>& guard, timer_record& timer, std::uint64_t periods) {
    const std::uint64_t calls = timer_catch_up_calls(periods);
    if (guard.owns_lock()) {
        for (std::uint64_t i = 0; i < calls && timer.active; ++i) call_quietly(timer.callback);
    } else {
        for (std::uint64_t i = 0; i < calls; ++i) {
            guard.lock();
            const bool active = timer.active;
            guard.unlock();
            if (!active) break;
            call_quietly(timer.callback);
        }
        guard.lock();
    }
    timer.fired += periods;
    guard.unlock();
}

void fire_watch(timer_service& s, watch_record& watch) {
    std::unique_lock<std::mutex> guard(s.lock);
    if (!watch.active) return;
    if (watch.call_under_lock) {
        call_quietly(watch.callback);
        return;
    }
    guard.unlock();
    call_quietly(watch.callback);
}

// Waits for a watched object, the wake event or the time limit (negative: none).
// True when a watched object ended the wait.
bool wait_for_watches(timer_service& s, const std::vector<std::shared_ptr<watch_record>>& watches, double seconds) {
    std::vector<waitable*> objects;
    objects.reserve(watches.size() + 1);
    for (const auto& watch : watches) objects.push_back(watch->object.get());
    if (objects.size() < max_wait_objects) {
        objects.push_back(&s.wake);
        const int index = wait_any(objects.data(), objects.size(), seconds);
        return index >= 0 && static_cast<std::size_t>(index) < watches.size();
    }
    // Too many for one wait: look at every watch without waiting, then wait on
    // the wake event for a short slice and look again on the next pass.
    for (std::size_t first = 0; first < objects.size(); first += max_wait_objects) {
        const std::size_t count = std::min(max_wait_objects, objects.size() - first);
        if (wait_any(objects.data() + first, count, 0) >= 0) return true;
    }
    waitable* wake[] = {&s.wake};
    wait_any(wake, 1, seconds < 0 ? watch_poll_seconds : std::min(seconds, watch_poll_seconds));
    return false;
}

void timer_loop(timer_service& s) {
    // The previous pass found nothing registered and then waited its full time.
    bool idle_before = false;
    for (;;) {
        std::unique_lock<std::mutex> guard(s.lock);
        s.wake.reset();
        const bool nothing = s.timers.empty() && s.watches.empty();
        if (nothing && idle_before) {
            s.running = false;
            return;
        }
        idle_before = nothing;

        // At most one timer fires per pass; otherwise find the next deadline.
        const double now = timer_time(s);
        std::shared_ptr<timer_record> due;
        std::uint64_t periods = 0;
        double next = -1;
        for (const auto& timer : s.timers) {
            const double remaining = timer_remaining(timer->fired, timer->interval, timer->start, now);
            periods = periods_for(remaining, timer->interval);
            if (periods > 0) {
                due = timer;
                break;
            }
            if (next < 0 || remaining < next) next = remaining;
        }
        if (due && due->call_under_lock) {
            fire_timer(guard, *due, periods);
            continue;
        }

        std::vector<std::shared_ptr<watch_record>> watches(s.watches.begin(), s.watches.end());
        // Until the wait below ends (or, with a timer to fire, never), only a
        // wake-up makes the thread look again.
        if (due) {
            s.looks_again_at = -infinity;
        } else if (next >= 0) {
            s.looks_again_at = now + (watches.size() < max_wait_objects ? next : std::min(next, watch_poll_seconds));
        } else if (watches.empty()) {
            s.looks_again_at = now + idle_wait_seconds;
        } else {
            s.looks_again_at = watches.size() < max_wait_objects ? infinity : now + watch_poll_seconds;
        }
        guard.unlock();

        if (due) {
            fire_timer(guard, *due, periods);
        } else if (watches.empty()) {
            waitable* wake[] = {&s.wake};
            if (wait_any(wake, 1, next >= 0 ? next : idle_wait_seconds) == 0) idle_before = false;
        } else if (wait_for_watches(s, watches, next)) {
            // Every watch found signalled fires in this pass, not just the first
            // one: a watch stays signalled until its owner cancels it, and firing
            // only the first would keep every later one waiting for that (a stop
            // sets the abort events of all sessions at once).
            for (const auto& watch : watches)
                if (watch->object->is_set()) fire_watch(s, *watch);
        }
    }
}

void timer_thread_procedure() {
    set_thread_name("timer thread");
    timer_service& s = service();
    try {
        timer_loop(s);
    } catch (...) {
        // The thread is gone: let the next registration start a new one.
        try {
            std::lock_guard<std::mutex> guard(s.lock);
            s.running = false;
        } catch (...) {
        }
    }
}

// Keeps `follower` linked to `leader` (when there is one) for the life of the
// scope.
class link_scope {
public:
    link_scope(event_object* leader, event_object& follower) : leader_(leader), follower_(follower) {
        if (leader_) leader_->link(follower_);
    }
    ~link_scope() {
        if (leader_) leader_->unlink(follower_);
    }
    link_scope(const link_scope&) = delete;
    link_scope& operator=(const link_scope&) = delete;

private:
    event_object* leader_;
    event_object& follower_;
};

}  // namespace

struct registration::canceller {
    explicit canceller(std::function<void()> function) : cancel(std::move(function)) {}
    ~canceller() {
        if (cancel) cancel();
    }
    canceller(const canceller&) = delete;
    canceller& operator=(const canceller&) = delete;
    std::function<void()> cancel;
};

registration::registration(std::function<void()> cancel) : state_(std::make_shared<canceller>(std::move(cancel))) {}

registration add_timer(std::function<void()> callback, bool call_under_lock) {
    auto record = std::make_shared<timer_record>();
    record->callback = std::move(callback);
    record->call_under_lock = call_under_lock;
    timer_service& s = service();
    // The handle exists before the record is listed, so nothing can leave a
    // listed record without a way to cancel it.
    registration handle([record, &s] {
        std::lock_guard<std::mutex> guard(s.lock);
        record->active = false;
        s.timers.remove(record);
        if (s.timers.empty() && s.watches.empty()) s.wake.set();
    });
    std::lock_guard<std::mutex> guard(s.lock);
    record->interval = s.interval;
    record->start = ensure_timer_thread(s, record->interval);
    s.timers.push_back(record);
    return handle;
}

registration add_watch(std::function<void()> callback, const event_object& event, bool call_under_lock) {
    auto record = std::make_shared<watch_record>();
    record->callback = std::move(callback);
    record->object = duplicate(event);
    record->call_under_lock = call_under_lock;
    timer_service& s = service();
    registration handle([record, &s] {
        std::lock_guard<std::mutex> guard(s.lock);
        record->active = false;
        s.watches.remove(record);
        if (s.timers.empty() && s.watches.empty()) s.wake.set();
    });
    std::lock_guard<std::mutex> guard(s.lock);
    ensure_timer_thread(s, -infinity);  // a new watch always joins the wait at once
    s.watches.push_back(record);
    return handle;
}

bool run_with_deadline(const std::function<void()>& function) {
    event_object deadline;
    event_object* previous = nullptr;
    bool aborted = false;
    {
        abort_event_scope scope(&deadline);
        previous = scope.previous();
        // The timer and the link go before the scope restores the previous
        // abort event, and before `deadline`, which they set.
        registration timer = add_timer([&deadline] { deadline.set(); }, true);
        // Setting the caller's own event (a stop) sets the deadline's too.
        const link_scope link(previous, deadline);
        try {
            function();
        } catch (const user_abort&) {
            aborted = true;
        }
    }
    if (!aborted) return true;
    // The caller itself is being stopped: that is not a missed deadline.
    if (previous && previous->is_set()) throw user_abort();
    return false;
}

void set_timer_interval_for_tests(double seconds) {
    if (!(seconds > 0)) throw invalid_input();
    timer_service& s = service();
    std::lock_guard<std::mutex> guard(s.lock);
    s.interval = seconds;
}

bool timer_thread_running() {
    timer_service& s = service();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.running;
}

std::uint64_t timer_due_periods(std::uint64_t fired, double interval, double start, double now) {
    return periods_for(timer_remaining(fired, interval, start, now), interval);
}

}  // namespace ZT
