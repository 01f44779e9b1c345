#include "workloads.h"

#include "basics.h"
#include "bench_text.h"
#include "ftp_client.h"
#include "output.h"
#include "server_process.h"
#include "sockets.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <latch>
#include <optional>
#include <thread>
#include <utility>

namespace ftpbench {

void run_threads(int count, first_failure& failure, const std::function<void(int)>& body) {
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&, i] {
            try {
                body(i);
            } catch (const std::exception& e) {
                failure.set(e.what());
            }
        });
    for (std::thread& t : threads) t.join();
}

void prepare_files(const bench_context& b) {
    const options& o = b.o;
    control_connection c = open_session(o, b.server);
    std::vector<char> pattern = pattern_buffer(big_buffer_size);
    for (const auto& [path, size] : {std::pair{b.big_path, o.big_size}, std::pair{b.small_path, o.small_size}}) {
        if (remote_size(c, path) != size) upload(c, path, pattern, size);
    }
    c.command("MKD " + b.list_path);  // may exist already
    std::vector<char> buffer(big_buffer_size);
    if (listing(c, "NLST " + b.list_path, buffer) < static_cast<std::uint64_t>(o.files)) {
        char name[32];
        for (int i = 0; i < o.files; ++i) {
            std::snprintf(name, sizeof name, "f%05d", i);
            upload(c, remote_path(b.list_path, name), pattern, 64);
        }
    }
    c.quit();
}

namespace {

void check_size(control_connection& c, const std::string& path, std::uint64_t expected) {
    const auto size = remote_size(c, path);
    if (size && *size != expected)
        throw bench_error(path + " is " + std::to_string(*size) + " bytes, not " + std::to_string(expected) +
                          " (make it so, or run with --prepare)");
}


// Memory per idle session: the server's VmRSS and PSS with N logged-in idle
// sessions, less the figures with none, divided by N. Every session has
// answered a NOOP before the second reading, so each one's thread has done all
// it does before it idles.
void idle_rss(const bench_context& b) {
    const options& o = b.o;
    if (!o.pid) throw bench_error("needs --pid");
    const memory_figures before = process_memory(o.pid);
    std::vector<control_connection> sessions;
    sessions.reserve(static_cast<std::size_t>(o.idle_sessions));
    for (int i = 0; i < o.idle_sessions; ++i) {
        sessions.emplace_back(b.server, o.timeout, o.tls);
        sessions.back().log_in(o.user, o.password);
    }
    for (control_connection& c : sessions) c.expect("NOOP", {200});
    const memory_figures after = process_memory(o.pid);
    for (control_connection& c : sessions) c.quit();
    const double n = o.idle_sessions;
    print_figure("idle_rss", (static_cast<double>(after.rss_kib) - static_cast<double>(before.rss_kib)) / n,
                 "KiB/session", 1);
    print_figure("idle_pss", (static_cast<double>(after.pss_kib) - static_cast<double>(before.pss_kib)) / n,
                 "KiB/session", 1);
}

// One operation of a timed workload: when it started (seconds into the
// workload) and how long it took (seconds).
struct sample {
    double start, latency;
};

// The samples of every thread, in one list.
std::vector<sample> all_samples(const std::vector<std::vector<sample>>& per_thread) {
    std::vector<sample> all;
    for (const auto& samples : per_thread) all.insert(all.end(), samples.begin(), samples.end());
    return all;
}

// The latency figures of a timed workload, in milliseconds; with --latencies
// every sample as well, for a look at the distribution and at the rate over
// time (a step at a timer interval shows there long before it moves a
// percentile, and a rate that falls during the run shows the machine running
// out of something).
void print_latencies(const options& o, const std::string& name, const std::vector<sample>& samples) {
    if (!o.latency_dir.empty()) {
        const std::string path = o.latency_dir + "/" + name + ".ms";
        std::FILE* out = std::fopen(path.c_str(), "w");
        if (!out) throw bench_error(system_error("cannot write " + path));
        for (const sample& s : samples) std::fprintf(out, "%.4f %.3f\n", s.start, s.latency * 1e3);
        std::fclose(out);
    }
    std::vector<double> seconds;
    seconds.reserve(samples.size());
    for (const sample& s : samples) seconds.push_back(s.latency);
    print_figure(name + "_p50", percentile(seconds, 50) * 1e3, "ms", 2);
    print_figure(name + "_p99", percentile(seconds, 99) * 1e3, "ms", 2);
    print_figure(name + "_max", percentile(seconds, 100) * 1e3, "ms", 2);
}

// Sessions per second: each client repeats connect, greeting, (with --tls
// AUTH TLS and the handshake,) USER, PASS, QUIT and the server's close until
// the time is up.
void login_rate(const bench_context& b) {
    const options& o = b.o;
    first_failure failure;
    std::vector<std::vector<sample>> samples(static_cast<std::size_t>(o.login_clients));
    std::atomic<std::uint64_t> done{0};
    window_sampler windows(o, done);
    cpu_meter cpu(o.pid);
    cpu.start();
    const auto start = clock_type::now();
    const auto deadline = seconds_after(start, o.duration);
    windows.start(start);
    run_threads(o.login_clients, failure, [&](int i) {
        std::vector<sample>& mine = samples[static_cast<std::size_t>(i)];
        for (std::uint64_t n = 0; n < max_operations_per_session && !failure.failed(); ++n) {
            const auto begin = clock_type::now();
            if (begin >= deadline) break;
            control_connection c(b.server, o.timeout, o.tls);
            c.log_in(o.user, o.password);
            c.quit();
            mine.push_back({std::chrono::duration<double>(begin - start).count(), seconds_since(begin)});
            done.fetch_add(1, std::memory_order_relaxed);
        }
    });
    const auto end = clock_type::now();
    const double elapsed = std::chrono::duration<double>(end - start).count();
    cpu.stop();
    windows.finish(end);
    failure.throw_if_failed();
    const std::vector<sample> all = all_samples(samples);
    print_figure("login_rate", static_cast<double>(all.size()) / elapsed, "sessions/s", 0);
    print_latencies(o, "login_rate", all);
    cpu.print("login_rate", static_cast<double>(all.size()), "us/login");
    windows.print("login_rate", "sessions/s", nullptr);
}

// Transfers per second: every session logs in first (not timed), then all
// repeat PASV + RETR of the small file until the time is up; the latency of
// one is from PASV sent to the final reply read. The QUITs come after the
// CPU reading.
void small_retr(const bench_context& b) {
    const options& o = b.o;
    const int n = o.small_sessions;
    first_failure failure;
    std::vector<std::vector<sample>> samples(static_cast<std::size_t>(n));
    std::latch logged_in(n), go(1), finished(n), quit(1);
    std::atomic<std::uint64_t> done{0};
    window_sampler windows(o, done);
    cpu_meter cpu(o.pid);
    clock_type::time_point start, deadline, end;

    std::thread driver([&] {
        logged_in.wait();
        cpu.start();
        start = clock_type::now();
        deadline = seconds_after(start, o.duration);
        windows.start(start);
        go.count_down();
        finished.wait();
        end = clock_type::now();
        cpu.stop();
        windows.finish(end);
        quit.count_down();
    });
    run_threads(n, failure, [&](int i) {
        std::optional<control_connection> c;
        try {
            c.emplace(open_session(o, b.server));
        } catch (...) {
            logged_in.count_down();
            go.wait();
            finished.count_down();
            throw;
        }
        logged_in.count_down();
        go.wait();
        try {
            std::vector<char> buffer(small_buffer_size);
            std::vector<sample>& mine = samples[static_cast<std::size_t>(i)];
            for (std::uint64_t k = 0; k < max_operations_per_session && !failure.failed(); ++k) {
                const auto begin = clock_type::now();
                if (begin >= deadline) break;
                const std::uint64_t bytes = download(*c, b.small_path, buffer);
                if (bytes != o.small_size)
                    throw bench_error(b.small_path + ": " + std::to_string(bytes) + " bytes received, not " +
                                      std::to_string(o.small_size));
                mine.push_back({std::chrono::duration<double>(begin - start).count(), seconds_since(begin)});
                done.fetch_add(1, std::memory_order_relaxed);
            }
        } catch (...) {
            finished.count_down();
            throw;
        }
        finished.count_down();
        quit.wait();
        c->quit();
    });
    driver.join();
    failure.throw_if_failed();
    const std::vector<sample> all = all_samples(samples);
    // The rate counts the time to the end of the last transfer, which may finish after the deadline.
    const double elapsed = std::chrono::duration<double>(end - start).count();
    print_figure("small_retr_c64", static_cast<double>(all.size()) / elapsed, "transfers/s", 0);
    print_latencies(o, "small_retr_c64", all);
    cpu.print("small_retr_c64", static_cast<double>(all.size()), "us/transfer");
    windows.print("small_retr_c64", "transfers/s", "us/transfer");
}

// LIST and MLSD of the listing folder: one warm-up, then the median time of
// the runs, each from PASV sent to the final reply read. The CPU figure comes
// from more listings, for about 2 s (at most --duration, at most 1000
// listings): /proc counts in clock ticks of 10 ms, coarser than a few listings.
void list_10k(const bench_context& b) {
    const options& o = b.o;
    control_connection c = open_session(o, b.server);
    std::vector<char> buffer(big_buffer_size);
    for (const char* verb : {"LIST", "MLSD"}) {
        const std::string command = std::string(verb) + " " + b.list_path;
        const std::string name = std::string("list_10k_") + (verb[0] == 'L' ? "list" : "mlsd");
        auto once = [&] {
            const std::uint64_t lines = listing(c, command, buffer);
            if (lines < static_cast<std::uint64_t>(o.files))
                throw bench_error(command + ": " + std::to_string(lines) + " lines, expected at least " +
                                  std::to_string(o.files) + " (run with --prepare?)");
        };
        once();
        std::vector<double> times;
        for (int run = 0; run < o.list_runs; ++run) {
            const auto begin = clock_type::now();
            once();
            times.push_back(seconds_since(begin));
        }
        print_figure(name, median(times) * 1e3, "ms", 2);

        cpu_meter cpu(o.pid);
        cpu.start();
        const auto start = clock_type::now();
        int runs = 0;
        while (runs < 1000 && (runs < o.list_runs || seconds_since(start) < std::min(o.duration, 2.0))) {
            once();
            ++runs;
        }
        cpu.stop();
        cpu.print(name, runs, "us/listing");
    }
    c.quit();
}

// A big transfer measured the same way both ways: one warm-up, then the median
// rate of the runs, each from PASV sent to the transfer's final reply read.
void big_transfer(const bench_context& b, bool is_upload) {
    const options& o = b.o;
    const std::string name = is_upload ? "stor_1g" : "retr_1g";
    control_connection c = open_session(o, b.server);
    std::vector<char> buffer = is_upload ? pattern_buffer(big_buffer_size) : std::vector<char>(big_buffer_size);
    if (!is_upload) check_size(c, b.big_path, o.big_size);
    auto once = [&] {
        if (is_upload) {
            upload(c, b.upload_path, buffer, o.big_size);
        } else {
            const std::uint64_t bytes = download(c, b.big_path, buffer);
            if (bytes != o.big_size)
                throw bench_error(b.big_path + ": " + std::to_string(bytes) + " bytes received, not " +
                                  std::to_string(o.big_size));
        }
    };
    once();
    std::vector<double> rates;
    cpu_meter cpu(o.pid);
    cpu.start();
    for (int run = 0; run < o.big_runs; ++run) {
        const auto begin = clock_type::now();
        once();
        rates.push_back(static_cast<double>(o.big_size) / seconds_since(begin) / 1e6);
    }
    cpu.stop();
    if (is_upload) c.expect("DELE " + b.upload_path, {250});
    c.quit();
    print_figure(name, median(rates), "MB/s", 1);
    cpu.print(name, static_cast<double>(o.big_size) * o.big_runs / static_cast<double>(1ull << 30), "us/GiB");
}

}  // namespace

int run_round(const bench_context& b, const std::vector<std::string>& chosen) {
    const std::pair<const char*, std::function<void()>> steps[] = {
        {"idle_rss", [&] { idle_rss(b); }},
        {"list_10k", [&] { list_10k(b); }},
        {"retr_1g", [&] { big_transfer(b, false); }},
        {"stor_1g", [&] { big_transfer(b, true); }},
        {"login_rate", [&] { login_rate(b); }},
        {"small_retr_c64", [&] { small_retr(b); }},
    };
    int failures = 0;
    for (const auto& [name, step] : steps) {
        if (std::find(chosen.begin(), chosen.end(), name) == chosen.end()) continue;
        try {
            step();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "ftpbench: %s failed: %s\n", name, e.what());
            ++failures;
        }
    }
    return failures;
}

}  // namespace ftpbench
