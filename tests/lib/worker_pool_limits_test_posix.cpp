// Running out of descriptors makes worker creation fail; the pool must stay
// usable and must not keep the refused tasks.
#include "lib/errors.h"
#include "lib/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace ZT {
namespace {

// The lowest descriptor number that is free now: with the limit there, no new
// descriptor can be opened.
rlim_t lowest_free_descriptor() {
    const int probe = ::dup(0);
    ::close(probe);
    return static_cast<rlim_t>(probe);
}

TEST(worker_pool_limits, failed_worker_creation_takes_the_task_back) {
    worker_pool pool(thread_priority_lowest, 2);
    std::atomic<int> runs{0};
    auto witness = std::make_shared<int>(0);

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = lowest_free_descriptor();  // no descriptor left for a new event
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    bool threw = false;
    try {
        pool.try_enqueue([&runs, witness] { ++runs; });
    } catch (const bug_check&) {
        threw = true;
    }
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);

    EXPECT_TRUE(threw);
    EXPECT_EQ(pool.worker_count(), 0u);
    EXPECT_EQ(witness.use_count(), 1);  // the refused task is gone, not queued

    // The pool is still whole: the next task runs, and only that one.
    std::atomic<bool> done{false};
    ASSERT_TRUE(pool.try_enqueue([&done] { done = true; }));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(done);
    EXPECT_EQ(runs, 0);
}

}  // namespace
}  // namespace ZT
