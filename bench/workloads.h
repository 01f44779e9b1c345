// The server workloads: what each one measures and prints, and the round
// that runs the chosen ones.
#pragma once

#include "bench_text.h"
#include "options.h"

#include <netinet/in.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace ftpbench {

struct bench_context {
    options o;
    sockaddr_in server{};
    std::string big_path, small_path, list_path, upload_path;
};

// The first failure of a group of threads, and a flag the others watch.
class first_failure {
public:
    void set(const std::string& message) {
        std::lock_guard<std::mutex> hold(lock_);
        if (!failed_.exchange(true)) message_ = message;
    }
    bool failed() const { return failed_.load(); }
    void throw_if_failed() const {
        std::lock_guard<std::mutex> hold(lock_);
        if (failed_) throw bench_error(message_);
    }

private:
    mutable std::mutex lock_;
    std::atomic<bool> failed_{false};
    std::string message_;
};

// Runs body(i) on `count` threads and waits for them all; the first exception
// is recorded in `failure` (the others see it and stop early).
void run_threads(int count, first_failure& failure, const std::function<void(int)>& body);

// Uploads the files the workloads read, where the server does not have them
// at the expected size.
void prepare_files(const bench_context& b);

// Runs the chosen workloads once each, in the order of all_workloads; a
// failed one is reported on standard error and the others still run.
// Returns the number that failed.
int run_round(const bench_context& b, const std::vector<std::string>& chosen);

}  // namespace ftpbench
