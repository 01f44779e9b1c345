// Running out of memory while a worker or a connection is being set up: what
// was taken is released, nothing hangs, and the next task or client is served.
#include "oom/failing_allocator.h"

#include "ftp/tcp_server.h"
#include "lib/abort.h"
#include "lib/errors.h"
#include "lib/network_session.h"
#include "lib/text.h"
#include "lib/worker_pool.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace ZT {
namespace {

// Runs `work` on a thread of its own and ends the test program when it has not
// returned within `seconds`: a deadlock must fail the run, not hang it.
void run_bounded(const std::function<void()>& work, double seconds = 20) {
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;
    std::thread runner([&] {
        work();
        std::lock_guard<std::mutex> guard(lock);
        done = true;
        changed.notify_all();
    });
    std::unique_lock<std::mutex> guard(lock);
    if (!changed.wait_for(guard, std::chrono::duration<double>(seconds), [&] { return done; })) {
        std::fprintf(stderr, "out_of_memory: no return within %.0f seconds (deadlock)\n", seconds);
        std::fflush(stderr);
        std::_Exit(1);
    }
    guard.unlock();
    runner.join();
}

// Fails the first, second, third... allocation of a call that has to start a
// worker, until the call gets through: a call that failed left no worker and no
// task behind, and the pool then runs the next task.
TEST(out_of_memory, every_failed_allocation_while_starting_a_worker_leaves_the_pool_whole) {
    bool got_through = false;
    for (long successes = 0; successes < 1000 && !got_through; ++successes) {
        SCOPED_TRACE(successes);
        worker_pool pool(thread_priority_lowest, 4, "oom worker");
        auto witness = std::make_shared<int>(0);
        std::atomic<int> runs{0};
        bool failed = false;
        run_bounded([&] {
            test::fail_allocations_here_after(successes);
            try {
                got_through = pool.try_enqueue([witness, &runs] { ++runs; });
            } catch (const std::exception&) {  // std::bad_alloc, or bug_check for a thread
                failed = true;
            }
            test::fail_allocations_here_after(-1);
        });
        if (!failed) {
            EXPECT_TRUE(got_through);
            EXPECT_TRUE(test::wait_until([&] { return runs == 1; }));
            break;
        }
        EXPECT_EQ(pool.worker_count(), 0u);
        EXPECT_EQ(witness.use_count(), 1);  // the task was not kept
        std::atomic<bool> ran{false};
        run_bounded([&] { EXPECT_TRUE(pool.try_enqueue([&ran] { ran = true; })); });
        EXPECT_TRUE(test::wait_until([&] { return ran.load(); }));
        EXPECT_EQ(runs, 0);
        pool.abort_all();
    }
    EXPECT_TRUE(got_through);
}

// Greets each client with one line and ends its session.
class greeting_server : public tcp_server {
public:
    greeting_server() : tcp_server(4) {}
    ~greeting_server() { stop_serving(); }

private:
    void run_session(tcp_socket& connection) override { connection.write("hello\n", 6); }
};

// The first bytes a client gets before the server ends its connection ("" when
// the server closed it at once).
std::string first_bytes_from(const greeting_server& server) {
    tcp_socket client;
    client.set_timeout(10);
    connect_to_host(client, "127.0.0.1", format_uint(server.local_address().port()));
    char buffer[16];
    return std::string(buffer, client.read(buffer, sizeof buffer));
}

// With no memory on the server's threads, a new connection cannot be given an
// object or a worker: it is closed (not leaked, so the client sees the end at
// once), and the server accepts and serves the next client.
TEST(out_of_memory, a_connection_that_cannot_be_set_up_is_closed_and_the_next_one_served) {
    network_session networking;
    sockaddr_in loopback{};
    loopback.sin_family = AF_INET;
    loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    greeting_server server;
    server.listen(network_address::from_sockaddr_in(loopback));
    for (int round = 0; round < 3; ++round) {
        test::fail_allocations_on_other_threads(true);
        std::string refused;
        EXPECT_NO_THROW(refused = first_bytes_from(server));
        test::fail_allocations_on_other_threads(false);
        EXPECT_EQ(refused, "");
        EXPECT_EQ(first_bytes_from(server), "hello\n");
    }
}

}  // namespace
}  // namespace ZT
