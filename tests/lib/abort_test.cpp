#include "lib/abort.h"
#include "lib/errors.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace ZT {
namespace {

using test::clock_type;
using test::seconds_since;

TEST(seconds_to_ms, rounds_half_up_and_negative_is_infinite) {
    EXPECT_EQ(seconds_to_ms(0.0004), 0u);
    EXPECT_EQ(seconds_to_ms(0.0005), 1u);
    EXPECT_EQ(seconds_to_ms(1.5), 1500u);
    EXPECT_EQ(seconds_to_ms(-0.1), infinite_ms);
    EXPECT_EQ(seconds_to_ms(-1), infinite_ms);
}

TEST(event_object, manual_reset_and_duplicates_share_state) {
    event_object event;
    EXPECT_FALSE(event.is_set());
    event.set();
    EXPECT_TRUE(event.is_set());
    EXPECT_TRUE(event.is_set());  // stays set until reset
    event.reset();
    EXPECT_FALSE(event.is_set());
    auto copy = duplicate(event);
    copy->set();
    EXPECT_TRUE(event.is_set());
    event.reset();
    EXPECT_FALSE(copy->is_set());
}

TEST(event_object, linked_followers_are_set_with_their_leader) {
    event_object leader, before, after, gone;
    leader.link(before);
    leader.link(gone);
    leader.unlink(gone);
    EXPECT_FALSE(before.is_set());
    leader.set();
    EXPECT_TRUE(before.is_set());
    EXPECT_FALSE(gone.is_set());  // unlinked: never touched again
    leader.link(after);           // the leader is set already
    EXPECT_TRUE(after.is_set());
    leader.unlink(before);
    leader.unlink(after);
}

TEST(wait_any, zero_limit_answers_at_once) {
    event_object a, b;
    waitable* objects[] = {&a, &b};
    const auto start = clock_type::now();
    EXPECT_EQ(wait_any(objects, 2, 0), -1);
    b.set();
    EXPECT_EQ(wait_any(objects, 2, 0), 1);
    a.set();
    EXPECT_EQ(wait_any(objects, 2, 0), 0);  // the lowest index wins
    EXPECT_LT(seconds_since(start), 1.0);
}

TEST(wait_any, times_out_after_the_limit) {
    event_object a;
    waitable* objects[] = {&a};
    const auto start = clock_type::now();
    EXPECT_EQ(wait_any(objects, 1, 0.2), -1);
    EXPECT_GE(seconds_since(start), 0.15);
}

TEST(wait_any, abort_event_wins_over_a_signalled_object) {
    event_object abort_event, object;
    abort_event_scope scope(&abort_event);
    abort_event.set();
    object.set();
    waitable* objects[] = {&object};
    EXPECT_THROW(wait_any(objects, 1, 0), user_abort);
    EXPECT_THROW(check_abort(), user_abort);
}

TEST(wait_any, wakes_on_an_object_set_by_another_thread) {
    event_object object;
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        object.set();
    });
    waitable* objects[] = {&object};
    EXPECT_EQ(wait_any(objects, 1, 10), 0);
    setter.join();
}

// A waitable whose first wake-ups do not count: the wait must go on.
class reluctant_event : public event_object {
public:
    bool confirm() override { return ++asked > 2; }
    int asked = 0;
};

TEST(wait_any, unconfirmed_wake_ups_wait_again) {
    reluctant_event object;
    object.set();
    waitable* objects[] = {&object};
    EXPECT_EQ(wait_any(objects, 1, 5), 0);
    EXPECT_EQ(object.asked, 3);
}

TEST(abort_event_scope, installs_and_restores) {
    EXPECT_EQ(current_abort_event(), nullptr);
    event_object outer, inner;
    {
        abort_event_scope a(&outer);
        EXPECT_EQ(current_abort_event(), &outer);
        {
            abort_event_scope b(&inner);
            EXPECT_EQ(current_abort_event(), &inner);
            EXPECT_EQ(b.previous(), &outer);
        }
        EXPECT_EQ(current_abort_event(), &outer);
    }
    EXPECT_EQ(current_abort_event(), nullptr);
    EXPECT_NO_THROW(check_abort());  // no abort event: nothing to check
}

TEST(sleep, aborted_from_another_thread_after_about_a_second) {
    event_object abort_event;
    abort_event_scope scope(&abort_event);
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        abort_event.set();
    });
    const auto start = clock_type::now();
    EXPECT_THROW(sleep(2), user_abort);
    const double took = seconds_since(start);
    setter.join();
    EXPECT_GE(took, 0.9);
    EXPECT_LT(took, 1.9);
}

TEST(sleep, without_abort_event_sleeps_the_time) {
    const auto start = clock_type::now();
    sleep(0.5);
    EXPECT_GE(seconds_since(start), 0.45);
}

}  // namespace
}  // namespace ZT
