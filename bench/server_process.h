// The measured server process, read from /proc: its CPU time, memory,
// descriptors and threads, and the readings of each window of a timed
// workload.
#pragma once

#include "basics.h"
#include "bench_text.h"
#include "options.h"
#include "output.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ftpbench {

// The whole file; throws bench_error when it cannot be read.
std::string read_text_file(const std::string& path);

// The CPU time (user + system, every thread, the ended ones included) that the
// process has used so far, in seconds.
double process_cpu_seconds(long pid);

// This process's own CPU time so far, in seconds.
double own_cpu_seconds();

// The server's and the client's CPU time over a stretch of work.
class cpu_meter {
public:
    explicit cpu_meter(long pid) : pid_(pid) {}

    void start() {
        server_start_ = pid_ ? process_cpu_seconds(pid_) : 0;
        client_start_ = own_cpu_seconds();
    }
    void stop() {
        server_used_ = pid_ ? process_cpu_seconds(pid_) - server_start_ : 0;
        client_used_ = own_cpu_seconds() - client_start_;
    }
    // Prints "<name>_cpu" (the server's, with a PID) and "<name>_client_cpu" in
    // microseconds per unit of work.
    void print(const std::string& name, double units, const char* unit) const {
        if (pid_) print_figure(name + "_cpu", server_used_ * 1e6 / units, unit, 0);
        print_figure(name + "_client_cpu", client_used_ * 1e6 / units, unit, 0);
    }

private:
    long pid_;
    double server_start_ = 0, client_start_ = 0, server_used_ = 0, client_used_ = 0;
};

struct memory_figures {
    std::uint64_t rss_kib, pss_kib;
};

// The process's VmRSS and PSS now, in KiB.
memory_figures process_memory(long pid);

// The entries of /proc/PID/fd: the descriptors the process holds.
std::uint64_t descriptor_count(long pid);

// The process's RSS, descriptors and threads now.
process_usage read_process_usage(long pid);

// True once the process has exited: its /proc entry is gone, or it is a
// zombie that its parent has not collected yet.
bool process_ended(long pid);

// Reads the operations finished so far and the server's CPU time at the start
// of a timed workload, at every window boundary before its deadline (on a
// thread of its own) and at its end, for the figures of each window
// (--windows). Does nothing without --windows.
class window_sampler {
public:
    window_sampler(const options& o, const std::atomic<std::uint64_t>& done) : o_(o), done_(done) {}
    window_sampler(const window_sampler&) = delete;
    window_sampler& operator=(const window_sampler&) = delete;
    ~window_sampler() { finish(clock_type::now()); }

    // The first reading, now, then the thread for the boundaries.
    void start(clock_type::time_point start) {
        if (o_.windows <= 0) return;
        start_ = start;
        take(start);
        const std::vector<double> boundaries = window_boundaries(o_.duration, o_.windows);
        thread_ = std::thread([this, boundaries] {
            for (double boundary : boundaries) {
                std::unique_lock<std::mutex> hold(lock_);
                if (wake_.wait_until(hold, seconds_after(start_, boundary), [this] { return stopping_; })) return;
                hold.unlock();
                take(clock_type::now());
            }
        });
    }

    // Stops the thread and takes the last reading, at `end`. Only the first
    // call counts.
    void finish(clock_type::time_point end) {
        if (!thread_.joinable()) return;
        {
            std::lock_guard<std::mutex> hold(lock_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
        take(end);
    }

    // "<name>_window_<n> rate unit" for each window and, with a cpu_unit and
    // a PID, "<name>_window_<n>_cpu" in microseconds per operation.
    void print(const std::string& name, const char* unit, const char* cpu_unit) const {
        if (o_.windows <= 0) return;
        if (!failure_.empty()) throw bench_error("window reading: " + failure_);
        const std::vector<window_figure> figures = window_figures(readings_);
        for (std::size_t i = 0; i < figures.size(); ++i) {
            const std::string window = name + "_window_" + std::to_string(i + 1);
            print_figure(window, figures[i].rate, unit, 0);
            if (cpu_unit && o_.pid && figures[i].cpu_us_per_operation)
                print_figure(window + "_cpu", *figures[i].cpu_us_per_operation, cpu_unit, 0);
        }
    }

private:
    // Called by the sampling thread, or by finish() after it has ended: the
    // readings need no lock of their own.
    void take(clock_type::time_point at) {
        if (!failure_.empty()) return;
        try {
            const double cpu = o_.pid ? process_cpu_seconds(o_.pid) : 0;
            readings_.push_back({std::chrono::duration<double>(at - start_).count(), done_.load(), cpu});
        } catch (const std::exception& e) {
            failure_ = e.what();
        }
    }

    const options& o_;
    const std::atomic<std::uint64_t>& done_;
    clock_type::time_point start_;
    std::vector<window_reading> readings_;
    std::string failure_;
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

}  // namespace ftpbench
