#include "soak.h"

#include "basics.h"
#include "bench_text.h"
#include "output.h"
#include "server_process.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>
#include <utility>

namespace ftpbench {

namespace {

// The server's usage once it has settled after a round: the sessions have all
// been closed from the client's side, and the server closes its side of each
// and returns its worker to the pool a moment later. Up to 2 s for two
// readings in a row with the same descriptors and threads.
process_usage settled_usage(long pid) {
    process_usage last = read_process_usage(pid);
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const process_usage now = read_process_usage(pid);
        const bool same = now.descriptors == last.descriptors && now.threads == last.threads;
        last = now;
        if (same) break;
    }
    return last;
}

void write_usage(const std::string& prefix, const process_usage& usage) {
    write_figure(prefix + "_rss", static_cast<double>(usage.rss_kib), "KiB", 0);
    write_figure(prefix + "_descriptors", static_cast<double>(usage.descriptors), "descriptors", 0);
    write_figure(prefix + "_threads", static_cast<double>(usage.threads), "threads", 0);
}

}  // namespace

int run_soak(const bench_context& b, const std::vector<std::string>& chosen) {
    const options& o = b.o;
    std::map<std::string, std::vector<double>> kept;
    struct restore_output {
        ~restore_output() { kept_figures = nullptr; }
    } restore;
    kept_figures = &kept;

    int failures = run_round(b, chosen);
    process_usage first{}, last{};
    if (failures == 0) {
        first = last = settled_usage(o.pid);
        write_usage("soak_minute_0", first);
    }
    kept.clear();

    const auto start = clock_type::now();
    int reported = 0, rounds = 0;
    // At most one round per 10 ms, a bound no real round comes near.
    const int max_rounds = o.soak_minutes * 60 * 100;
    for (int round = 0; failures == 0 && reported < o.soak_minutes && round < max_rounds; ++round) {
        failures += run_round(b, chosen);
        ++rounds;
        const int minute = std::min(static_cast<int>(seconds_since(start) / 60.0), o.soak_minutes);
        if (failures != 0 || minute <= reported) continue;
        reported = minute;
        last = settled_usage(o.pid);
        const std::string prefix = "soak_minute_" + std::to_string(minute);
        write_usage(prefix, last);
        write_figure(prefix + "_rounds", rounds, "rounds", 0);
        for (const auto& [rate, unit] : {std::pair{"small_retr_c64", "transfers/s"}, std::pair{"login_rate", "sessions/s"}}) {
            const auto found = kept.find(rate);
            if (found != kept.end()) write_figure(prefix + "_" + rate, median(found->second), unit, 0);
        }
        kept.clear();
        rounds = 0;
    }
    if (failures != 0) {
        std::fprintf(stderr, "ftpbench: soak: a workload failed; the soak ends here\n");
        return 1;
    }
    auto growth = [](std::uint64_t from, std::uint64_t to) {
        return static_cast<double>(to) - static_cast<double>(from);
    };
    write_figure("soak_rss_growth", growth(first.rss_kib, last.rss_kib), "KiB", 0);
    write_figure("soak_descriptors_growth", growth(first.descriptors, last.descriptors), "descriptors", 0);
    write_figure("soak_threads_growth", growth(first.threads, last.threads), "threads", 0);
    const std::vector<std::string> excess = growth_verdict(first, last);
    for (const std::string& message : excess) std::fprintf(stderr, "ftpbench: soak: %s\n", message.c_str());
    return excess.empty() ? 0 : 1;
}

}  // namespace ftpbench
