// ftpbench: measures an FTP server from the outside, over plain FTP with
// passive data connections, so that it measures this server or any other one.
// It prints one line per figure, "name value unit".
//
// Why C++ and not a scripting language: the client and the server share the
// same two cores, so every cycle the client spends is a cycle the server does
// not get, and a slow client would measure itself. Here a download is one
// recv() of up to 1 MiB at a time that the kernel discards without copying
// (MSG_TRUNC), an upload one send() of 1 MiB from a buffer filled once, and a
// session a blocked thread, so the client costs a fraction of what the server
// does. Each workload prints the client's own CPU time per unit of work too
// ("_client_cpu"), so that its share stays visible. It uses the standard
// library and POSIX sockets only, nothing of the server's own code.
//
// idle_rss runs first, while the server has no idle worker threads yet, so
// that a session's thread is part of what a session costs.
//
//   ftpbench [options] HOST PORT USER PASSWORD     the server workloads
//   ftpbench --soak MINUTES [options] HOST ...     the workloads in a loop, the
//                                                  server's memory, descriptors
//                                                  and threads each minute
//   ftpbench loopback [options]                    the machine's own limits
//
// Run with --help for the options. Every loop is bounded in count and in time,
// every socket operation by a timeout. A failed reply ends that workload with
// a message on standard error; the other workloads still run, and the exit
// code is 1. Wrong arguments exit with 2.
#include "bench_text.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <latch>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

namespace ftpbench {

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

clock_type::time_point seconds_after(clock_type::time_point start, double seconds) {
    return start + std::chrono::duration_cast<clock_type::duration>(std::chrono::duration<double>(seconds));
}

// Upper bounds on counts, beside the time limits: no loop runs forever even
// when the server answers faster than anyone expects.
constexpr std::uint64_t max_operations_per_session = 10'000'000;
constexpr std::size_t big_buffer_size = 1 << 20;    // downloads, uploads, listings
constexpr std::size_t small_buffer_size = 256 << 10;  // one buffer per small-transfer session
constexpr std::size_t max_reply_line = 64 << 10;

// --- Options ------------------------------------------------------------------

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
    std::string latency_dir;  // when set, every latency sample goes to a file there
    double windows = 0;       // seconds of each window of the rate workloads; 0: none
    int soak_minutes = 0;     // 0: each workload once
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

const char usage_text[] =
    "usage: ftpbench [options] HOST PORT USER PASSWORD\n"
    "       ftpbench --soak MINUTES --pid N [options] HOST PORT USER PASSWORD\n"
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
    "  --quick            tiny sizes for a smoke test: 4M, 1 s, 100 files\n"
    "  --file PATH        (loopback) the file read from the page cache\n"
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

// Reads the options and positional arguments; `loopback` takes no positionals.
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
            } else if (a == "--latencies") {
                o.latency_dir = value();
            } else if (a == "--windows") {
                o.windows = parse_seconds(value());
            } else if (a == "--soak") {
                o.soak_minutes = static_cast<int>(parse_count(value(), 1, 24 * 60));
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
    o.host = positional[0];
    o.port = positional[1];
    o.user = positional[2];
    o.password = positional[3];
    return o;
}

// --- Output -------------------------------------------------------------------

// During a soak the workloads' own figures are kept here, by name, instead of
// printed: the soak prints a summary of each minute. Only the main thread
// prints figures, so this needs no lock.
std::map<std::string, std::vector<double>>* kept_figures = nullptr;

// One figure per line, flushed at once so that a caller sees progress.
void write_figure(const std::string& name, double value, const char* unit, int decimals) {
    std::printf("%s %.*f %s\n", name.c_str(), decimals, value, unit);
    std::fflush(stdout);
}

// A workload's figure: written, or kept during a soak.
void print_figure(const std::string& name, double value, const char* unit, int decimals) {
    if (kept_figures) {
        (*kept_figures)[name].push_back(value);
        return;
    }
    write_figure(name, value, unit, decimals);
}

// --- The server process --------------------------------------------------------

std::string read_text_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw bench_error("cannot read " + path + ": " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The CPU time (user + system, every thread, the ended ones included) that the
// process has used so far, in seconds.
double process_cpu_seconds(long pid) {
    static const long ticks_per_second = sysconf(_SC_CLK_TCK);
    const std::uint64_t ticks = parse_stat_cpu_ticks(read_text_file("/proc/" + std::to_string(pid) + "/stat"));
    return static_cast<double>(ticks) / static_cast<double>(ticks_per_second);
}

// This process's own CPU time so far, in seconds.
double own_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

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

memory_figures process_memory(long pid) {
    const std::string base = "/proc/" + std::to_string(pid);
    const auto rss = parse_status_number(read_text_file(base + "/status"), "VmRSS");
    const auto pss = parse_status_number(read_text_file(base + "/smaps_rollup"), "Pss");
    if (!rss || !pss) throw bench_error("no VmRSS or Pss for process " + std::to_string(pid));
    return {*rss, *pss};
}

// The entries of /proc/PID/fd: the descriptors the process holds.
std::uint64_t descriptor_count(long pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = ::opendir(path.c_str());
    if (!dir) throw bench_error("cannot read " + path + ": " + std::strerror(errno));
    std::uint64_t count = 0;
    // Bounded like every loop: no process holds a billion descriptors.
    for (std::uint64_t i = 0; i < 1'000'000'000; ++i) {
        const dirent* entry = ::readdir(dir);
        if (!entry) break;
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) ++count;
    }
    ::closedir(dir);
    return count;
}

process_usage read_process_usage(long pid) {
    const std::string status = read_text_file("/proc/" + std::to_string(pid) + "/status");
    const auto rss = parse_status_number(status, "VmRSS");
    const auto threads = parse_status_number(status, "Threads");
    if (!rss || !threads) throw bench_error("no VmRSS or Threads for process " + std::to_string(pid));
    return {*rss, descriptor_count(pid), *threads};
}

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

// --- Sockets -------------------------------------------------------------------

std::string system_error(const std::string& what) {
    const int code = errno;
    if (code == EAGAIN || code == EWOULDBLOCK || code == EINPROGRESS) return what + ": timed out";
    return what + ": " + std::strerror(code);
}

// One socket descriptor, closed with its owner.
class socket_fd {
public:
    socket_fd() = default;
    explicit socket_fd(int fd) : fd_(fd) {}
    socket_fd(socket_fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    socket_fd& operator=(socket_fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    socket_fd(const socket_fd&) = delete;
    socket_fd& operator=(const socket_fd&) = delete;
    ~socket_fd() { reset(); }

    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// Every receive, send and connect on the socket gives up after `seconds`.
void set_timeouts(int fd, double seconds) {
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(seconds);
    limit.tv_usec = static_cast<suseconds_t>((seconds - static_cast<double>(limit.tv_sec)) * 1e6);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

// A connected TCP socket to the address; the connect is bounded by the
// timeout (Linux applies the send timeout to a blocking connect).
socket_fd connect_to(const sockaddr_in& address, double timeout, bool no_delay) {
    socket_fd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0) throw bench_error(system_error("socket"));
    set_timeouts(sock.get(), timeout);
    if (no_delay) {
        const int one = 1;
        setsockopt(sock.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    for (;;) {
        if (::connect(sock.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return sock;
        if (errno != EINTR) break;
    }
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    throw bench_error(system_error(std::string("connect to ") + text + ":" + std::to_string(ntohs(address.sin_port))));
}

void send_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            throw bench_error(system_error("send"));
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
}

// Receives until the peer closes; returns the byte count. When `lines` is
// given the bytes come into `buffer`, over and over, and the line feeds seen
// are added to it; otherwise the kernel discards them without copying them
// out (MSG_TRUNC on a TCP socket), which saves the client a copy per byte.
std::uint64_t receive_to_end(int fd, std::vector<char>& buffer, std::uint64_t* lines = nullptr) {
    std::uint64_t total = 0;
    const int flags = lines ? 0 : MSG_TRUNC;
    for (;;) {
        const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), flags);
        if (got == 0) return total;
        if (got < 0) {
            if (errno == EINTR) continue;
            throw bench_error(system_error("receive on the data connection"));
        }
        total += static_cast<std::uint64_t>(got);
        if (lines) *lines += static_cast<std::uint64_t>(std::count(buffer.data(), buffer.data() + got, '\n'));
    }
}

// Sends `count` bytes of the buffer's pattern, one whole buffer per call at most.
void send_pattern(int fd, const std::vector<char>& buffer, std::uint64_t count) {
    while (count > 0) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(count, buffer.size()));
        send_all(fd, buffer.data(), piece);
        count -= piece;
    }
}

std::vector<char> pattern_buffer(std::size_t size) {
    std::vector<char> buffer(size);
    for (std::size_t i = 0; i < size; ++i) buffer[i] = static_cast<char>('a' + i % 26);
    return buffer;
}

sockaddr_in resolve_ipv4(const std::string& host, const std::string& port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int error = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (error != 0) throw bench_error("cannot resolve " + host + " port " + port + ": " + gai_strerror(error));
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    freeaddrinfo(found);
    return address;
}

// --- The control connection -------------------------------------------------------

// A logged-in (or freshly connected) control connection: commands out as one
// write each, replies in through a buffer.
class control_connection {
public:
    control_connection(const sockaddr_in& server, double timeout)
        : server_(server), timeout_(timeout), sock_(connect_to(server, timeout, true)) {}

    // The next complete reply. Throws bench_error when the server closes, the
    // timeout passes, or the text is not a reply.
    ftp_reply read_reply() {
        reply_assembler reply;
        while (!reply.add(read_line())) {
        }
        return reply.reply();
    }

    // Sends one command line (CR LF added).
    void send_command(std::string_view line) {
        std::string text(line);
        text += "\r\n";
        send_all(sock_.get(), text.data(), text.size());
    }

    // Sends the command and returns its reply.
    ftp_reply command(std::string_view line) {
        send_command(line);
        return read_reply();
    }

    // Sends the command; throws bench_error unless the reply code is one of
    // `accepted` (three-digit codes, or single digits for a whole class).
    ftp_reply expect(std::string_view line, std::initializer_list<int> accepted) {
        send_command(line);
        return expect_reply(line, accepted);
    }

    // Reads a reply for `what`; throws as expect does.
    ftp_reply expect_reply(std::string_view what, std::initializer_list<int> accepted) {
        ftp_reply reply;
        try {
            reply = read_reply();
        } catch (const bench_error& e) {
            throw bench_error(std::string(what) + ": " + e.what());
        }
        for (int code : accepted)
            if (code == reply.code || (code < 10 && reply.code / 100 == code)) return reply;
        throw bench_error(std::string(what) + ": " + reply.text);
    }

    // The greeting, then USER and, when asked for, PASS.
    void log_in(const std::string& user, const std::string& password) {
        expect_reply("greeting", {220});
        const ftp_reply reply = expect("USER " + user, {230, 331});
        if (reply.code == 331) {
            send_command("PASS " + password);
            expect_reply("PASS ****", {230, 202});
        }
    }

    // PASV, then a connection to the announced port at the control
    // connection's own address (the announced host is not used, so every data
    // connection stays on the address the caller chose).
    socket_fd open_passive() {
        const ftp_reply reply = expect("PASV", {227});
        sockaddr_in data = server_;
        data.sin_port = htons(parse_pasv_reply(reply.text).port);
        return connect_to(data, timeout_, false);
    }

    // QUIT, its reply, then the server's close (so that the server, not this
    // client, holds the closed connection's TIME_WAIT and ports do not run out).
    void quit() {
        expect("QUIT", {221});
        char byte;
        for (;;) {
            const ssize_t got = ::recv(sock_.get(), &byte, 1, 0);
            if (got == 0) break;
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) throw bench_error(system_error("waiting for the close after QUIT"));
            throw bench_error("data after the QUIT reply");
        }
        sock_.reset();
    }

private:
    std::string read_line() {
        for (;;) {
            const std::size_t end = buffer_.find('\n', start_);
            if (end != std::string::npos) {
                std::string line = buffer_.substr(start_, end - start_);
                start_ = end + 1;
                if (start_ == buffer_.size()) {
                    buffer_.clear();
                    start_ = 0;
                }
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return line;
            }
            if (buffer_.size() - start_ > max_reply_line) throw bench_error("reply line too long");
            char chunk[4096];
            const ssize_t got = ::recv(sock_.get(), chunk, sizeof chunk, 0);
            if (got == 0) throw bench_error("the server closed the control connection");
            if (got < 0) {
                if (errno == EINTR) continue;
                throw bench_error(system_error("receive on the control connection"));
            }
            buffer_.append(chunk, static_cast<std::size_t>(got));
        }
    }

    sockaddr_in server_;
    double timeout_;
    socket_fd sock_;
    std::string buffer_;
    std::size_t start_ = 0;
};

// The common start of a session: connect, log in, binary type.
control_connection open_session(const options& o, const sockaddr_in& server) {
    control_connection c(server, o.timeout);
    c.log_in(o.user, o.password);
    c.expect("TYPE I", {200});
    return c;
}

// The remote file's size, or nothing when the server does not tell.
std::optional<std::uint64_t> remote_size(control_connection& c, const std::string& path) {
    return parse_size_reply(c.command("SIZE " + path));
}

// One download to the end: PASV, RETR, the data, the final reply. Returns the bytes.
std::uint64_t download(control_connection& c, const std::string& path, std::vector<char>& buffer) {
    socket_fd data = c.open_passive();
    c.expect("RETR " + path, {1});
    const std::uint64_t bytes = receive_to_end(data.get(), buffer);
    data.reset();
    c.expect_reply("RETR " + path, {2});
    return bytes;
}

// One upload of `count` pattern bytes: PASV, STOR, the data, the client's
// close, the final reply.
void upload(control_connection& c, const std::string& path, const std::vector<char>& pattern, std::uint64_t count) {
    socket_fd data = c.open_passive();
    c.expect("STOR " + path, {1});
    send_pattern(data.get(), pattern, count);
    ::shutdown(data.get(), SHUT_WR);
    c.expect_reply("STOR " + path, {2});
}

// One listing: PASV, the command, the text, the final reply. Returns the lines.
std::uint64_t listing(control_connection& c, const std::string& command, std::vector<char>& buffer) {
    socket_fd data = c.open_passive();
    c.expect(command, {1});
    std::uint64_t lines = 0;
    receive_to_end(data.get(), buffer, &lines);
    data.reset();
    c.expect_reply(command, {2});
    return lines;
}

// --- Workloads -------------------------------------------------------------------

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

void check_size(control_connection& c, const std::string& path, std::uint64_t expected) {
    const auto size = remote_size(c, path);
    if (size && *size != expected)
        throw bench_error(path + " is " + std::to_string(*size) + " bytes, not " + std::to_string(expected) +
                          " (make it so, or run with --prepare)");
}

// Uploads the files the workloads read, where the server does not have them
// at the expected size.
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
        sessions.emplace_back(b.server, o.timeout);
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

// Sessions per second: each client repeats connect, greeting, USER, PASS,
// QUIT and the server's close until the time is up.
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
            control_connection c(b.server, o.timeout);
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

// Runs the chosen workloads once each, in the order of all_workloads; a
// failed one is reported on standard error and the others still run.
// Returns the number that failed.
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

// Rounds of workloads for o.soak_minutes minutes. The first round warms the
// server up (its worker pool grows to the most sessions at once, the
// allocator's arenas fill) and is followed by the reading of minute 0; then
// the round that ends each minute is followed by that minute's reading, with
// the median rates of its rounds. Every reading is taken at the same point of
// a round, with the server settled, so that two of them compare. The verdict
// compares the last reading with minute 0's. Returns the exit code.
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

int run_server_workloads(const options& o) {
    bench_context b;
    b.o = o;
    b.server = resolve_ipv4(o.host, o.port);
    b.big_path = remote_path(o.folder, "ftpbench-big");
    b.small_path = remote_path(o.folder, "ftpbench-small");
    b.list_path = remote_path(o.folder, "ftpbench-list");
    b.upload_path = remote_path(o.folder, "ftpbench-upload");

    std::vector<std::string> chosen = o.workloads;
    if (chosen.empty() && o.soak_minutes) chosen.assign(std::begin(soak_workloads), std::end(soak_workloads));
    if (chosen.empty()) {
        for (const char* name : all_workloads)
            if (o.pid || std::string(name) != "idle_rss") chosen.emplace_back(name);
    }

    if (o.prepare) {
        try {
            prepare_files(b);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "ftpbench: prepare: %s\n", e.what());
            return 1;
        }
    }
    if (o.soak_minutes) return run_soak(b, chosen);
    return run_round(b, chosen) ? 1 : 0;
}

// --- The machine's limits -----------------------------------------------------------

// Copies `count` bytes over a fresh 127.0.0.1 connection, in writes of
// `write_size` bytes, taken from memory or from a file read in 128 KiB pieces,
// into the same receive loop as a download. Returns MB/s.
double loopback_copy(std::uint64_t count, std::size_t write_size, const std::string& file, double timeout) {
    socket_fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener.get() < 0 || ::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), 1) != 0 ||
        getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw bench_error(system_error("loopback listener"));
    set_timeouts(listener.get(), timeout);

    const auto start = clock_type::now();
    socket_fd receiver = connect_to(address, timeout, false);
    socket_fd sender(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (sender.get() < 0) throw bench_error(system_error("loopback accept"));
    set_timeouts(sender.get(), timeout);

    std::string send_failure;
    std::thread writer([&] {
        try {
            std::vector<char> pattern = pattern_buffer(std::max<std::size_t>(write_size, 128 << 10));
            int fd = -1;
            if (!file.empty()) {
                fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
                if (fd < 0) throw bench_error(system_error("open " + file));
            }
            std::uint64_t left = count;
            while (left > 0) {
                std::size_t chunk = pattern.size();
                if (fd >= 0) {
                    const ssize_t got = ::read(fd, pattern.data(), 128 << 10);
                    if (got <= 0) {
                        ::close(fd);
                        throw bench_error(file + " is shorter than the copy");
                    }
                    chunk = static_cast<std::size_t>(got);
                }
                chunk = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, left));
                for (std::size_t at = 0; at < chunk; at += write_size)
                    send_all(sender.get(), pattern.data() + at, std::min(write_size, chunk - at));
                left -= chunk;
            }
            if (fd >= 0) ::close(fd);
        } catch (const std::exception& e) {
            send_failure = e.what();
        }
        sender.reset();
    });
    std::vector<char> buffer(big_buffer_size);
    std::uint64_t got = 0;
    try {
        got = receive_to_end(receiver.get(), buffer);
    } catch (...) {
        receiver.reset();
        writer.join();
        throw;
    }
    const double seconds = seconds_since(start);
    writer.join();
    if (!send_failure.empty()) throw bench_error(send_failure);
    if (got != count) throw bench_error("loopback copy lost bytes");
    return static_cast<double>(count) / seconds / 1e6;
}

// Reads the whole file in 128 KiB pieces into one buffer. Returns MB/s.
double cached_read(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw bench_error(system_error("open " + path));
    std::vector<char> buffer(128 << 10);
    std::uint64_t total = 0;
    const auto start = clock_type::now();
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            ::close(fd);
            throw bench_error(system_error("read " + path));
        }
        if (got == 0) break;
        total += static_cast<std::uint64_t>(got);
    }
    const double seconds = seconds_since(start);
    ::close(fd);
    if (total == 0) throw bench_error(path + " is empty");
    return static_cast<double>(total) / seconds / 1e6;
}

// The least a listing of the folder costs on this machine: what the server
// does for one before it writes a line, that is reading the entries and
// examining each one (following links, relative to the open folder, as the
// server does). Returns milliseconds.
double list_floor(const std::string& path) {
    const auto start = clock_type::now();
    DIR* dir = ::opendir(path.c_str());
    if (!dir) throw bench_error(system_error("opendir " + path));
    std::uint64_t examined = 0;
    for (std::uint64_t i = 0; i < 100'000'000; ++i) {
        const dirent* entry = ::readdir(dir);
        if (!entry) break;
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) == 0) ++examined;
    }
    ::closedir(dir);
    const double seconds = seconds_since(start);
    if (examined == 0) throw bench_error(path + " has no entries");
    return seconds * 1e3;
}

// One warm-up, then the median of the runs.
double median_of_runs(int runs, const std::function<double()>& once) {
    once();
    std::vector<double> values;
    for (int i = 0; i < runs; ++i) values.push_back(once());
    return median(values);
}

int run_loopback(const options& o) {
    struct step {
        const char* name;
        const char* unit;
        int decimals;
        bool wanted;
        int runs;
        std::function<double()> once;
    };
    const bool file = !o.cached_file.empty();
    const step steps[] = {
        {"loopback_tcp_16k", "MB/s", 1, true, o.big_runs,
         [&] { return loopback_copy(o.big_size, 16 << 10, {}, o.timeout); }},
        {"loopback_tcp_128k", "MB/s", 1, true, o.big_runs,
         [&] { return loopback_copy(o.big_size, 128 << 10, {}, o.timeout); }},
        {"loopback_file_16k", "MB/s", 1, file, o.big_runs,
         [&] { return loopback_copy(o.big_size, 16 << 10, o.cached_file, o.timeout); }},
        {"file_read_cached", "MB/s", 1, file, o.big_runs, [&] { return cached_read(o.cached_file); }},
        {"list_floor_10k", "ms", 2, !o.list_dir.empty(), o.list_runs, [&] { return list_floor(o.list_dir); }},
    };
    int failures = 0;
    for (const step& s : steps) {
        if (!s.wanted) continue;
        const char* name = s.name;
        try {
            print_figure(name, median_of_runs(s.runs, s.once), s.unit, s.decimals);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "ftpbench: %s failed: %s\n", name, e.what());
            ++failures;
        }
    }
    return failures ? 1 : 0;
}

}  // namespace

}  // namespace ftpbench

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool loopback = !args.empty() && args[0] == "loopback";
    if (loopback) args.erase(args.begin());
    const ftpbench::options o = ftpbench::parse_options(args, loopback);
    try {
        return loopback ? ftpbench::run_loopback(o) : ftpbench::run_server_workloads(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ftpbench: %s\n", e.what());
        return 1;
    }
}
