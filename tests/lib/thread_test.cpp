#include "lib/thread.h"

#include "lib/abort.h"
#include "lib/errors.h"
#include "lib/text.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace ZT {
namespace {

using test::clock_type;
using test::seconds_since;
using test::wait_until;

// A body that blocks until its thread is stopped and records how it ended.
struct blocking_body {
    std::atomic<bool> entered{false};
    std::atomic<bool> aborted{false};
    std::function<void()> function() {
        return [this] {
            entered = true;
            try {
                sleep(-1);
            } catch (const user_abort&) {
                aborted = true;
                throw;
            }
        };
    }
};

TEST(thread_object, stop_ends_an_endless_sleep) {
    thread_object thread;
    blocking_body body;
    thread.start(thread_priority_normal, body.function());
    ASSERT_TRUE(thread.running());
    ASSERT_TRUE(wait_until([&] { return body.entered.load(); }));

    const auto start = clock_type::now();
    thread.stop();
    EXPECT_LT(seconds_since(start), 5.0);
    EXPECT_TRUE(body.aborted);
    EXPECT_FALSE(thread.running());
    thread.stop();  // stopping a stopped thread does nothing
}

TEST(thread_object, body_runs_with_its_own_abort_event_reset_on_each_start) {
    thread_object thread;
    event_object* seen = nullptr;
    bool was_set = true;
    auto body = [&] {
        seen = current_abort_event();
        was_set = seen && seen->is_set();
    };
    for (int run = 0; run < 2; ++run) {
        // The first run's stop leaves the event set; the second start must reset it.
        thread.start(thread_priority_lowest, body);
        thread.join();
        EXPECT_EQ(seen, &thread.abort_event()) << "run " << run;
        EXPECT_FALSE(was_set) << "run " << run;
        thread.stop();  // joined already: only sets the event
        EXPECT_TRUE(thread.abort_event().is_set());
    }
    EXPECT_EQ(current_abort_event(), nullptr);  // the starting thread is untouched
}

TEST(thread_object, start_stops_the_running_body_first) {
    thread_object thread;
    blocking_body first;
    std::atomic<bool> first_done_when_second_began{false};
    thread.start(thread_priority_normal, first.function());
    ASSERT_TRUE(wait_until([&] { return first.entered.load(); }));
    thread.start(thread_priority_normal, [&] { first_done_when_second_began = first.aborted.load(); });
    thread.join();
    EXPECT_TRUE(first_done_when_second_began);
    EXPECT_FALSE(thread.running());
}

TEST(thread_object, exceptions_stay_in_the_thread) {
    thread_object thread;
    std::atomic<int> runs{0};
    thread.start(thread_priority_normal, [&] {
        ++runs;
        throw std::runtime_error("body failed");
    });
    thread.join();
    thread.start(thread_priority_normal, [&] {
        ++runs;
        throw 42;
    });
    thread.join();
    EXPECT_EQ(runs, 2);
    EXPECT_FALSE(thread.running());
}

TEST(thread_object, destruction_stops_the_thread) {
    blocking_body body;
    const auto start = clock_type::now();
    {
        thread_object thread("short lived");
        thread.start(thread_priority_normal, body.function());
        ASSERT_TRUE(wait_until([&] { return body.entered.load(); }));
    }
    EXPECT_LT(seconds_since(start), 5.0);
    EXPECT_TRUE(body.aborted);
}

TEST(thread_object, names_are_set_and_long_ones_cut_at_a_character_boundary) {
    // 14 ASCII bytes, then a two-byte character across the 15-byte limit of POSIX.
    const std::string long_name = "abcdefghijklmn\xC3\xA9xyz";
    thread_object thread("pool worker");
    std::string given = "unset", long_seen = "unset";
    thread.start(thread_priority_normal, [&] {
        given = current_thread_name();
        set_thread_name(long_name);
        long_seen = current_thread_name();
    });
    thread.join();
    // Systems without thread names report an empty name.
    EXPECT_TRUE(given.empty() || given == "pool worker") << given;
    EXPECT_TRUE(is_valid_utf8(long_seen)) << long_seen;
    EXPECT_TRUE(long_seen.empty() || long_seen == long_name || long_seen == "abcdefghijklmn") << long_seen;
}

TEST(run_detached, runs_the_function_once_without_abort_event_or_leaking_exceptions) {
    std::atomic<int> calls{0};
    std::atomic<bool> had_abort_event{true};
    // A throwing detached body must not end the process.
    run_detached(thread_priority_lowest, [] { throw std::runtime_error("ignored"); });
    run_detached(thread_priority_normal, [&] {
        had_abort_event = current_abort_event() != nullptr;
        ++calls;
    });
    ASSERT_TRUE(wait_until([&] { return calls.load() == 1; }));
    EXPECT_FALSE(had_abort_event);
}

}  // namespace
}  // namespace ZT
