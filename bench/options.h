// The benchmark client's options: what it measures, how much and for how
// long, read from its command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ftpbench {

struct options {
    std::string host, port, user, password;
    std::vector<std::string> workloads;  // empty: all
    long pid = 0;                        // 0: no server figures from /proc
    std::string folder = "/";
    std::uint64_t big_size = 1ull << 30;
    std::uint64_t small_size = 64 << 10;
    int files = 10'000;
    double duration = 10.0;
    int small_sessions = 64;
    int login_clients = 16;
    int idle_sessions = 100;
    int big_runs = 3;
    int list_runs = 5;
    double timeout = 30.0;
    bool prepare = false;
    bool tls = false;  // explicit FTPS: AUTH TLS, then PROT P for the data
    std::string latency_dir;  // when set, every latency sample goes to a file there
    double windows = 0;       // seconds of each window of the rate workloads; 0: none
    int soak_minutes = 0;     // 0: each workload once
    int held = 0;             // sessions held open while the workloads run
    // With held sessions: end by sending the server SIGTERM while they are held.
    bool stop_server = false;
    // loopback mode
    std::string cached_file;
    std::string list_dir;
};

// In the order they run. idle_rss comes first, while the server has no idle
// worker threads yet. The two rate workloads come last: every session and
// every transfer leaves the server's side of its connection in TIME_WAIT for a
// minute, and with many thousands of sockets held so, each PASV's bind to
// port 0 makes the kernel search the port range for a free port, which costs
// milliseconds and would slow (and blur) whatever ran after.
const char* const all_workloads[] = {"idle_rss", "list_10k", "retr_1g", "stor_1g", "login_rate", "small_retr_c64"};

// The round of a soak unless --workloads says otherwise: every kind of session
// the server serves (listings, big and small downloads, uploads, logins) and
// nothing that holds sessions open on purpose.
const char* const soak_workloads[] = {"list_10k", "retr_1g", "stor_1g", "login_rate", "small_retr_c64"};

// Reads the options and positional arguments; `loopback` takes no positionals.
options parse_options(const std::vector<std::string>& args, bool loopback);

}  // namespace ftpbench
