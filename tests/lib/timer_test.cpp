#include "lib/timer.h"

#include "lib/abort.h"
#include "lib/errors.h"
#include "lib/socket_handle.h"
#include "lib/thread.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ZT {
namespace {

using test::clock_type;
using test::seconds_since;
using test::wait_until;

// Every case leaves the service with the production interval and nothing registered.
class timer_service : public ::testing::Test {
protected:
    void TearDown() override { set_timer_interval_for_tests(default_timer_interval); }
};

// `count` events, each with a watch (called under the timer lock) that counts
// how often it fired. The watches are declared last, so they are cancelled
// before the events and counters they use go.
struct counting_watches {
    explicit counting_watches(int count) {
        for (int i = 0; i < count; ++i) {
            events.push_back(std::make_unique<event_object>());
            fired.push_back(std::make_unique<std::atomic<int>>(0));
            std::atomic<int>* counter = fired.back().get();
            watches.push_back(add_watch([counter] { ++*counter; }, *events.back(), true));
        }
    }

    std::vector<std::unique_ptr<event_object>> events;
    std::vector<std::unique_ptr<std::atomic<int>>> fired;
    std::vector<registration> watches;
};

TEST(timer_due, periods_and_catch_up_keep_the_phase) {
    const double interval = 30, start = 5;
    EXPECT_EQ(timer_due_periods(0, interval, start, start + 29.9), 0u);
    EXPECT_EQ(timer_due_periods(0, interval, start, start + 30), 1u);
    // Delayed by three and a half intervals: three periods missed, two calls made.
    const double late = start + 3.5 * interval;
    const std::uint64_t periods = timer_due_periods(0, interval, start, late);
    EXPECT_EQ(periods, 3u);
    EXPECT_EQ(timer_catch_up_calls(periods), 2u);
    // All three periods are accounted for: the next due time is the fourth
    // multiple of the interval after the start, not one interval after now.
    EXPECT_EQ(timer_due_periods(periods, interval, start, late), 0u);
    EXPECT_EQ(timer_due_periods(periods, interval, start, start + 4 * interval - 0.01), 0u);
    EXPECT_EQ(timer_due_periods(periods, interval, start, start + 4 * interval), 1u);

    EXPECT_EQ(timer_catch_up_calls(0), 0u);
    EXPECT_EQ(timer_catch_up_calls(1), 1u);
    EXPECT_EQ(timer_catch_up_calls(2), 2u);
    EXPECT_EQ(timer_catch_up_calls(9), 2u);
    EXPECT_THROW(set_timer_interval_for_tests(0), invalid_input);
}

TEST_F(timer_service, late_timer_calls_twice_then_keeps_its_phase) {
    const double interval = 0.4;
    set_timer_interval_for_tests(interval);
    std::mutex lock;
    std::vector<double> calls;  // seconds after registration
    // Called outside the timer lock, so it may outlive the cancellation: its
    // counter is shared with it.
    auto blocker_calls = std::make_shared<std::atomic<int>>(0);

    // The first timer holds the thread for 3.5 intervals on its first call.
    registration blocker = add_timer(
        [blocker_calls, interval] {
            if ((*blocker_calls)++ == 0) std::this_thread::sleep_for(std::chrono::duration<double>(3.5 * interval));
        },
        false);
    const auto registered = clock_type::now();
    registration counted = add_timer(
        [&] {
            std::lock_guard<std::mutex> guard(lock);
            calls.push_back(seconds_since(registered));
        },
        true);

    ASSERT_TRUE(wait_until([&] {
        std::lock_guard<std::mutex> guard(lock);
        return calls.size() >= 3;
    }));
    counted.reset();
    blocker.reset();

    std::lock_guard<std::mutex> guard(lock);
    // Two catch-up calls once the thread is free again, at about 4.5 intervals.
    EXPECT_GE(calls[0], 4 * interval);
    EXPECT_LT(calls[1] - calls[0], interval / 2);
    // Then the next whole multiple of the interval after the start: 5 intervals,
    // not 5.5 (one interval after the catch-up).
    EXPECT_GE(calls[2], 5 * interval - 0.05);
    EXPECT_LT(calls[2], 5.4 * interval);
}

TEST_F(timer_service, deadline_ends_a_long_function_with_false) {
    set_timer_interval_for_tests(0.5);
    std::atomic<bool> finished{false};
    const auto start = clock_type::now();
    const bool in_time = run_with_deadline([&] {
        sleep(60);
        finished = true;
    });
    const double elapsed = seconds_since(start);
    EXPECT_FALSE(in_time);
    EXPECT_FALSE(finished);
    EXPECT_GE(elapsed, 0.45);
    EXPECT_LT(elapsed, 5.0);
    EXPECT_EQ(current_abort_event(), nullptr);  // the main thread has none again
}

TEST_F(timer_service, quick_function_returns_true_and_the_thread_ends_a_second_later) {
    set_timer_interval_for_tests(0.5);
    bool ran = false;
    EXPECT_TRUE(run_with_deadline([&] { ran = true; }));
    EXPECT_TRUE(ran);
    const auto returned = clock_type::now();
    EXPECT_TRUE(timer_thread_running());
    ASSERT_TRUE(wait_until([] { return !timer_thread_running(); }, 5.0));
    EXPECT_GE(seconds_since(returned), 0.9);
}

TEST_F(timer_service, stopping_the_caller_throws_user_abort_not_false) {
    set_timer_interval_for_tests(10);  // far beyond the bound of this case
    enum outcome { none, returned_true, returned_false, threw_abort };
    std::atomic<int> result{none};
    std::atomic<bool> entered{false};
    thread_object thread;
    thread.start(thread_priority_lowest, [&] {
        try {
            result = run_with_deadline([&] {
                entered = true;
                sleep(60);
            })
                         ? returned_true
                         : returned_false;
        } catch (const user_abort&) {
            result = threw_abort;
        }
    });
    ASSERT_TRUE(wait_until([&] { return entered.load(); }));
    const auto start = clock_type::now();
    thread.stop();
    EXPECT_LT(seconds_since(start), 5.0);
    EXPECT_EQ(result, threw_abort);
}

TEST_F(timer_service, function_runs_under_a_fresh_abort_event_then_the_old_one_returns) {
    thread_object thread;
    event_object* inside = nullptr;
    event_object* after = nullptr;
    bool result = false;
    thread.start(thread_priority_normal, [&] {
        result = run_with_deadline([&] { inside = current_abort_event(); });
        after = current_abort_event();
    });
    thread.join();
    EXPECT_TRUE(result);
    EXPECT_NE(inside, nullptr);
    EXPECT_NE(inside, &thread.abort_event());
    EXPECT_EQ(after, &thread.abort_event());
}

TEST_F(timer_service, watch_fires_while_set_and_never_after_cancellation) {
    set_timer_interval_for_tests(0.02);
    std::atomic<int> ticks{0}, fired{0};
    registration pacer = add_timer([&] { ++ticks; }, true);
    event_object event;
    registration watch = add_watch([&] { ++fired; }, event, true);

    ASSERT_TRUE(wait_until([&] { return ticks.load() >= 2; }));
    EXPECT_EQ(fired, 0);
    event.set();
    ASSERT_TRUE(wait_until([&] { return fired.load() >= 2; }));  // fires again while set

    watch.reset();
    const int at_cancel = fired;
    const int ticks_at_cancel = ticks;
    ASSERT_TRUE(wait_until([&] { return ticks.load() >= ticks_at_cancel + 3; }));
    EXPECT_EQ(fired, at_cancel);
}

TEST_F(timer_service, watch_keeps_its_own_copy_of_the_event) {
    // A callback called outside the timer lock may still be running after the
    // cancellation, so its counter lives as long as the callback does.
    auto fired = std::make_shared<std::atomic<int>>(0);
    auto event = std::make_unique<event_object>();
    registration watch = add_watch([fired] { ++*fired; }, *event, false);
    event->set();
    event.reset();  // the caller's object goes; the watch still sees the event
    EXPECT_TRUE(wait_until([&] { return fired->load() > 0; }));
}

TEST_F(timer_service, more_watches_than_one_system_wait_holds) {
    constexpr int count = 70;
    counting_watches watched(count);
    auto& events = watched.events;
    auto& fired = watched.fired;
    events[count - 1]->set();
    ASSERT_TRUE(wait_until([&] { return fired[count - 1]->load() > 0; }));
    events[count - 1]->reset();
    events[3]->set();
    ASSERT_TRUE(wait_until([&] { return fired[3]->load() > 0; }));
    for (int i = 0; i < count; ++i) {
        if (i != 3 && i != count - 1) {
            EXPECT_EQ(fired[i]->load(), 0) << i;
        }
    }
}

TEST_F(timer_service, watches_signalled_together_all_fire_while_none_is_cancelled) {
    // A stop sets the abort events of all sessions at once, and each session
    // cancels its watch only after its own watch has fired. So every signalled
    // watch must fire without waiting for the ones before it to be cancelled:
    // within one system wait and beyond it (where the watches are polled).
    for (const int count : {2, 10, 63, 64, 200}) {
        counting_watches watched(count);
        auto& events = watched.events;
        auto& fired = watched.fired;
        const auto start = clock_type::now();
        for (auto& event : events) event->set();
        const bool all_fired = wait_until([&] {
            for (const auto& counter : fired)
                if (counter->load() == 0) return false;
            return true;
        }, 2.0);
        int unfired = 0;
        for (const auto& counter : fired) unfired += counter->load() == 0 ? 1 : 0;
        EXPECT_TRUE(all_fired) << count << " watches, " << unfired << " never fired";
        EXPECT_LT(seconds_since(start), 1.0) << count << " watches";
    }
}

TEST_F(timer_service, stop_ends_many_deadline_runs_at_once) {
    // Threads inside run_with_deadline, as sessions before login are; stopping
    // them all (abort events set first, then joined in order, as the pool does)
    // takes about as long as stopping one.
    set_timer_interval_for_tests(60);  // no deadline passes during the case
    constexpr int count = 100;
    std::atomic<int> entered{0}, stopped{0};
    std::vector<std::unique_ptr<thread_object>> threads;
    for (int i = 0; i < count; ++i) {
        threads.push_back(std::make_unique<thread_object>());
        threads.back()->start(thread_priority_normal, [&] {
            try {
                run_with_deadline([&] {
                    ++entered;
                    // As a socket wait does: the abort event is checked
                    // between slices.
                    for (;;) {
                        check_abort();
                        system_sleep(seconds_to_ms(socket_handle::abort_slice_seconds));
                    }
                });
            } catch (const user_abort&) {
                ++stopped;
            }
        });
    }
    ASSERT_TRUE(wait_until([&] { return entered.load() == count; }));
    const auto start = clock_type::now();
    for (auto& thread : threads) thread->abort_event().set();
    for (auto& thread : threads) thread->join();
    EXPECT_LT(seconds_since(start), 1.0);
    EXPECT_EQ(stopped, count);
}

TEST_F(timer_service, throwing_callback_does_not_stop_the_service) {
    set_timer_interval_for_tests(0.05);
    // The failing callback runs outside the timer lock and may outlive the
    // cancellation, so its counter is shared with it.
    auto thrown = std::make_shared<std::atomic<int>>(0);
    std::atomic<int> counted{0};
    registration failing = add_timer(
        [thrown] {
            ++*thrown;
            throw std::runtime_error("callback failed");
        },
        false);
    registration counting = add_timer([&] { ++counted; }, true);
    EXPECT_TRUE(wait_until([&] { return thrown->load() >= 3 && counted.load() >= 3; }));
}

}  // namespace
}  // namespace ZT
