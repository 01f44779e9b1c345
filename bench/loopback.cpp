#include "loopback.h"

#include "basics.h"
#include "bench_text.h"
#include "output.h"
#include "sockets.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace ftpbench {

namespace {

// Sends `count` bytes in writes of `write_size` bytes, taken from memory or,
// when a file is named, from the file read in 128 KiB pieces. Throws
// bench_error when a write fails or the file is shorter.
void write_pieces(int socket, const std::string& file, std::uint64_t count, std::size_t write_size) {
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
            send_all(socket, pattern.data() + at, std::min(write_size, chunk - at));
        left -= chunk;
    }
    if (fd >= 0) ::close(fd);
}

// Sends the first `count` bytes of the file with sendfile(2), at most `piece`
// bytes a call, the way the server sends a download on Linux. Throws
// bench_error when a call fails or the file is shorter.
void sendfile_pieces(int socket, const std::string& file, std::uint64_t count, std::size_t piece) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw bench_error(system_error("open " + file));
    off_t offset = 0;
    std::uint64_t left = count;
    while (left > 0) {
        const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(left, piece));
        const ssize_t sent = ::sendfile(socket, fd, &offset, size);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) {
            const std::string failure =
                sent < 0 ? system_error("sendfile " + file) : file + " is shorter than the copy";
            ::close(fd);
            throw bench_error(failure);
        }
        left -= static_cast<std::uint64_t>(sent);
    }
    ::close(fd);
}

// Copies `count` bytes over a fresh 127.0.0.1 connection, in writes of
// `write_size` bytes, taken from memory or from a file read in 128 KiB pieces
// (or, with `use_sendfile`, sent from the file with sendfile in pieces of
// `write_size`), into the same receive loop as a download. Returns MB/s.
double loopback_copy(std::uint64_t count, std::size_t write_size, const std::string& file, double timeout,
                     bool use_sendfile = false) {
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
            if (use_sendfile)
                sendfile_pieces(sender.get(), file, count, write_size);
            else
                write_pieces(sender.get(), file, count, write_size);
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

}  // namespace

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
        {"loopback_sendfile_16k", "MB/s", 1, file, o.big_runs,
         [&] { return loopback_copy(o.big_size, 16 << 10, o.cached_file, o.timeout, true); }},
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

}  // namespace ftpbench
