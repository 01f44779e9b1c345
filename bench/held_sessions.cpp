#include "held_sessions.h"

#include "basics.h"
#include "bench_text.h"
#include "ftp_client.h"
#include "output.h"
#include "server_process.h"
#include "sockets.h"

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <thread>

namespace ftpbench {

namespace {

// The threads that log the held sessions in, and later out: enough to keep
// the server accepting without a thread of the client per session.
constexpr std::size_t held_threads = 16;
// After the workloads, every this many held sessions one is checked.
constexpr std::size_t held_check_step = 100;
// The server's stop is looked at every 10 ms, for up to 30 s.
constexpr auto stop_poll_interval = std::chrono::milliseconds(10);
constexpr int stop_polls = 3000;

// Runs body(i) for each of `count` held sessions, shared among the threads in
// stretches; the first failure ends every thread's stretch early and is
// thrown, naming its session.
void for_each_held(std::size_t count, const std::function<void(std::size_t)>& body) {
    const std::size_t threads = std::min(held_threads, count);
    first_failure failure;
    run_threads(static_cast<int>(threads), failure, [&](int part) {
        const index_range range = part_of(count, threads, static_cast<std::size_t>(part));
        for (std::size_t i = range.begin; i < range.end && !failure.failed(); ++i) {
            try {
                body(i);
            } catch (const std::exception& e) {
                throw bench_error("held session " + std::to_string(i + 1) + " of " + std::to_string(count) + ": " +
                                  e.what());
            }
        }
    });
    failure.throw_if_failed();
}

// Sends the server SIGTERM and waits for it to exit; returns the seconds from
// the signal to the exit. Throws bench_error when it has not exited in 30 s.
double stop_and_time(long pid) {
    const auto start = clock_type::now();
    if (::kill(static_cast<pid_t>(pid), SIGTERM) != 0)
        throw bench_error(system_error("SIGTERM to process " + std::to_string(pid)));
    for (int poll = 0; poll < stop_polls; ++poll) {
        if (process_ended(pid)) return seconds_since(start);
        std::this_thread::sleep_for(stop_poll_interval);
    }
    throw bench_error("the server did not exit within 30 s of SIGTERM");
}

// Restores the plain names of the figures when the held workloads end.
struct held_prefix {
    held_prefix() { figure_prefix = "held_"; }
    ~held_prefix() { figure_prefix.clear(); }
    held_prefix(const held_prefix&) = delete;
    held_prefix& operator=(const held_prefix&) = delete;
};

}  // namespace

void raise_descriptor_limit(const options& o) {
    // The held sessions, and the most the workloads open at once beside them:
    // a data connection with each of small_retr_c64's sessions, login_rate's
    // clients and idle_rss's sessions, plus a few for the standard streams and
    // the readings of /proc.
    const std::uint64_t needed = static_cast<std::uint64_t>(o.held) + 2 * static_cast<std::uint64_t>(o.small_sessions) +
                                 static_cast<std::uint64_t>(o.login_clients) +
                                 static_cast<std::uint64_t>(o.idle_sessions) + 64;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) throw bench_error(system_error("getrlimit"));
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < needed)
        throw bench_error("--held " + std::to_string(o.held) + " needs " + std::to_string(needed) +
                          " open descriptors, and the hard limit of open files (RLIMIT_NOFILE, ulimit -Hn) is " +
                          std::to_string(limit.rlim_max) + ": raise it (as root: ulimit -Hn " +
                          std::to_string(needed) + ")");
    if (limit.rlim_cur != limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            throw bench_error(
                system_error("raising the soft limit of open files to " + std::to_string(limit.rlim_max)));
    }
}

int run_held(const bench_context& b, const std::vector<std::string>& chosen) {
    const options& o = b.o;
    const std::size_t count = static_cast<std::size_t>(o.held);
    std::optional<memory_figures> before;
    if (o.pid) before = process_memory(o.pid);

    std::vector<std::optional<control_connection>> sessions(count);
    std::atomic<std::size_t> logged_in{0};
    const auto start = clock_type::now();
    try {
        for_each_held(count, [&](std::size_t i) {
            sessions[i].emplace(b.server, o.timeout, o.tls);
            sessions[i]->log_in(o.user, o.password);
            logged_in.fetch_add(1, std::memory_order_relaxed);
        });
    } catch (const bench_error& e) {
        char elapsed[32];
        std::snprintf(elapsed, sizeof elapsed, "%.1f", seconds_since(start));
        throw bench_error(std::string(e.what()) + " (" + std::to_string(logged_in.load()) +
                          " held sessions were logged in, after " + elapsed + " s)");
    }
    print_figure("held_sessions_login_s", seconds_since(start), "s", 2);

    // Every session answers a NOOP before the reading, as in idle_rss, so that
    // each one's thread has done all it does before it idles.
    for_each_held(count, [&](std::size_t i) { sessions[i]->expect("NOOP", {200}); });
    if (before) {
        const memory_figures after = process_memory(o.pid);
        const auto per_session = [&](std::uint64_t from, std::uint64_t to) {
            return (static_cast<double>(to) - static_cast<double>(from)) / static_cast<double>(count);
        };
        print_figure("held_sessions_pss_per_session", per_session(before->pss_kib, after.pss_kib), "KiB/session", 1);
        print_figure("held_sessions_rss_per_session", per_session(before->rss_kib, after.rss_kib), "KiB/session", 1);

        // The server's CPU while the held sessions only wait (cores busy):
        // what holding them costs with nothing to do. Over the shorter of
        // --duration and 2 s; /proc counts in ticks of 10 ms.
        const double cpu_before = process_cpu_seconds(o.pid);
        const auto idle_start = clock_type::now();
        std::this_thread::sleep_until(seconds_after(idle_start, std::min(o.duration, 2.0)));
        const double idle_cpu = (process_cpu_seconds(o.pid) - cpu_before) / seconds_since(idle_start);
        print_figure("held_sessions_idle_cpu", idle_cpu, "cores", 2);
    }

    int failures = 0;
    {
        const held_prefix prefix;
        failures += run_round(b, chosen);
    }

    // The held sessions must have stayed logged in through the workloads.
    bool lost = false;
    for (std::size_t i : sampled_indexes(count, held_check_step)) {
        std::string answer;
        try {
            answer = sessions[i]->command("NOOP").text;
        } catch (const bench_error& e) {
            answer = e.what();
        }
        if (answer.rfind("200 ", 0) != 0) {
            std::fprintf(stderr, "ftpbench: held session %zu of %zu no longer answers NOOP with 200: %s\n", i + 1,
                         count, answer.c_str());
            lost = true;
            ++failures;
            break;
        }
    }

    try {
        if (o.stop_server)
            print_figure("held_stop_s", stop_and_time(o.pid), "s", 2);
        else if (!lost)
            for_each_held(count, [&](std::size_t i) { sessions[i]->quit(); });
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ftpbench: %s: %s\n", o.stop_server ? "held_stop_s" : "held sessions' QUIT", e.what());
        ++failures;
    }
    return failures ? 1 : 0;
}

}  // namespace ftpbench
