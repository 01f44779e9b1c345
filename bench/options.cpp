#include "options.h"

#include "bench_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <sstream>

namespace ftpbench {

namespace {

const char usage_text[] =
    "usage: ftpbench [options] HOST PORT USER PASSWORD\n"
    "       ftpbench --soak MINUTES --pid N [options] HOST PORT USER PASSWORD\n"
    "       ftpbench --held N [--pid N [--stop-server]] [options] HOST PORT USER PASSWORD\n"
    "       ftpbench loopback [--size N] [--runs N] [--file PATH] [--list-dir PATH] [--list-runs N] [--quick]\n"
    "\n"
    "Server workloads (all by default, run in the order listed):\n"
    "  idle_rss        server memory per idle logged-in session (needs --pid)\n"
    "  list_10k        LIST and MLSD of the listing folder, median time\n"
    "  retr_1g         download of the big file, median MB/s\n"
    "  stor_1g         upload of as many bytes, median MB/s (the file is deleted after)\n"
    "  login_rate      connect, USER, PASS, QUIT from concurrent clients: sessions/s\n"
    "  small_retr_c64  concurrent sessions each repeating PASV + RETR of the small file\n"
    "\n"
    "Files expected in the remote folder (--prepare uploads what is missing):\n"
    "  ftpbench-big    --size bytes          ftpbench-small  --small-size bytes\n"
    "  ftpbench-list/  --files files         (stor_1g writes ftpbench-upload)\n"
    "\n"
    "Options:\n"
    "  --workloads A,B    which workloads\n"
    "  --pid N            the server's process: CPU time per unit of work and memory\n"
    "  --dir PATH         the remote folder with the files (default /)\n"
    "  --size N           big transfer size, suffix K/M/G allowed (default 1G)\n"
    "  --small-size N     small file size (default 64K)\n"
    "  --files N          files in the listing folder (default 10000)\n"
    "  --duration S       seconds of login_rate and small_retr_c64 (default 10)\n"
    "  --sessions N       concurrent sessions of small_retr_c64 (default 64)\n"
    "  --clients N        concurrent clients of login_rate (default 16)\n"
    "  --idle N           idle sessions of idle_rss (default 100)\n"
    "  --runs N           measured runs of retr_1g and stor_1g (default 3)\n"
    "  --list-runs N      measured runs of each listing (default 5)\n"
    "  --timeout S        limit of every single network wait (default 30)\n"
    "  --prepare          upload the missing files first\n"
    "  --tls              explicit FTPS: every control connection sends AUTH TLS after the\n"
    "                     greeting (the certificate is not checked), and the sessions of\n"
    "                     every workload but login_rate and idle_rss send PBSZ 0 and PROT P\n"
    "                     after the login; each data connection is then TLS, offering the\n"
    "                     control connection's session for resumption. Every figure's name\n"
    "                     starts with tls_. Not with --soak or --held\n"
    "  --latencies DIR    write every sample to DIR/<workload>.ms: start (s), latency (ms)\n"
    "  --windows S        login_rate and small_retr_c64 also print the rate of every S\n"
    "                     seconds of the run (<name>_window_<n>), small_retr_c64 with the\n"
    "                     server's CPU per transfer of each (<name>_window_<n>_cpu, needs --pid)\n"
    "  --soak MINUTES     run the workloads (by default list_10k, retr_1g, stor_1g, login_rate,\n"
    "                     small_retr_c64) round after round for that long, after one warm-up\n"
    "                     round; print the server's RSS, descriptors and threads after the\n"
    "                     warm-up (minute 0) and at the end of the round that ends each\n"
    "                     minute; exit 1 when the last reading has grown past the first\n"
    "                     by more than a small tolerance (needs --pid)\n"
    "  --held N           log in N sessions (each a control connection, then idle) from 16\n"
    "                     threads before the workloads and hold them while they run: prints\n"
    "                     held_sessions_login_s and, with --pid, the server's\n"
    "                     held_sessions_pss_per_session, held_sessions_rss_per_session and\n"
    "                     held_sessions_idle_cpu (cores busy while the held sessions idle),\n"
    "                     then the workloads' figures as held_<name>; fails unless every\n"
    "                     100th held session still answers NOOP after them. Raises the\n"
    "                     client's limit of open descriptors to its hard limit\n"
    "  --stop-server      (with --held and --pid) end by sending the server SIGTERM while\n"
    "                     the sessions are still held: held_stop_s, seconds until it exited\n"
    "  --quick            tiny sizes for a smoke test: 4M, 1 s, 100 files\n"
    "  --file PATH        (loopback) the file read from the page cache, and sent from it with\n"
    "                     sendfile in 16 KiB pieces (loopback_sendfile_16k)\n"
    "  --list-dir PATH    (loopback) the listing folder, read and examined entry by entry\n"
    "                     the way the server does for a listing (list_floor_10k)\n";

[[noreturn]] void usage_error(const std::string& message) {
    std::fprintf(stderr, "ftpbench: %s\n\n%s", message.c_str(), usage_text);
    std::exit(2);
}

long parse_count(const std::string& text, long low, long high) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high)
        usage_error("not a number from " + std::to_string(low) + " to " + std::to_string(high) + ": " + text);
    return value;
}

double parse_seconds(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value > 0) || value > 3600) usage_error("not a number of seconds: " + text);
    return value;
}

void apply_quick(options& o) {
    o.big_size = 4 << 20;
    o.duration = 1.0;
    o.files = 100;
}

}  // namespace

options parse_options(const std::vector<std::string>& args, bool loopback) {
    options o;
    for (const std::string& a : args)
        if (a == "--quick") apply_quick(o);
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) usage_error(a + " needs a value");
            return args[++i];
        };
        try {
            if (a == "--help" || a == "-h") {
                std::fputs(usage_text, stdout);
                std::exit(0);
            } else if (a == "--quick") {
            } else if (a == "--workloads") {
                std::stringstream list(value());
                std::string name;
                while (std::getline(list, name, ',')) {
                    if (std::find(std::begin(all_workloads), std::end(all_workloads), name) == std::end(all_workloads))
                        usage_error("unknown workload: " + name);
                    o.workloads.push_back(name);
                }
            } else if (a == "--pid") {
                o.pid = parse_count(value(), 1, 1L << 30);
            } else if (a == "--dir") {
                o.folder = value();
            } else if (a == "--size") {
                o.big_size = parse_size(value());
            } else if (a == "--small-size") {
                o.small_size = parse_size(value());
            } else if (a == "--files") {
                o.files = static_cast<int>(parse_count(value(), 1, 1'000'000));
            } else if (a == "--duration") {
                o.duration = parse_seconds(value());
            } else if (a == "--sessions") {
                o.small_sessions = static_cast<int>(parse_count(value(), 1, 1000));
            } else if (a == "--clients") {
                o.login_clients = static_cast<int>(parse_count(value(), 1, 1000));
            } else if (a == "--idle") {
                o.idle_sessions = static_cast<int>(parse_count(value(), 1, 1000));
            } else if (a == "--runs") {
                o.big_runs = static_cast<int>(parse_count(value(), 1, 100));
            } else if (a == "--list-runs") {
                o.list_runs = static_cast<int>(parse_count(value(), 1, 1000));
            } else if (a == "--timeout") {
                o.timeout = parse_seconds(value());
            } else if (a == "--prepare") {
                o.prepare = true;
            } else if (a == "--tls" && !loopback) {
                o.tls = true;
            } else if (a == "--latencies") {
                o.latency_dir = value();
            } else if (a == "--windows") {
                o.windows = parse_seconds(value());
            } else if (a == "--soak") {
                o.soak_minutes = static_cast<int>(parse_count(value(), 1, 24 * 60));
            } else if (a == "--held" && !loopback) {
                o.held = static_cast<int>(parse_count(value(), 1, 1'000'000));
            } else if (a == "--stop-server" && !loopback) {
                o.stop_server = true;
            } else if (a == "--file" && loopback) {
                o.cached_file = value();
            } else if (a == "--list-dir" && loopback) {
                o.list_dir = value();
            } else if (a.size() > 1 && a[0] == '-') {
                usage_error("unknown option: " + a);
            } else {
                positional.push_back(a);
            }
        } catch (const bench_error& e) {
            usage_error(e.what());
        }
    }
    if (loopback) {
        if (!positional.empty()) usage_error("loopback takes no host");
        return o;
    }
    if (positional.size() != 4) usage_error("HOST PORT USER PASSWORD expected");
    if (o.windows > 0) {
        try {
            window_boundaries(o.duration, o.windows);
        } catch (const bench_error& e) {
            usage_error(std::string("--windows: ") + e.what());
        }
    }
    if (o.soak_minutes && !o.pid) usage_error("--soak needs --pid");
    if (o.held && o.soak_minutes) usage_error("--held does not go with --soak");
    if (o.tls && (o.soak_minutes || o.held)) usage_error("--tls does not go with --soak or --held");
    if (o.stop_server && (!o.held || !o.pid)) usage_error("--stop-server needs --held and --pid");
    o.host = positional[0];
    o.port = positional[1];
    o.user = positional[2];
    o.password = positional[3];
    return o;
}

}  // namespace ftpbench
