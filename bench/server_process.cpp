#include "server_process.h"

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace ftpbench {

std::string read_text_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw bench_error("cannot read " + path + ": " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

double process_cpu_seconds(long pid) {
    static const long ticks_per_second = sysconf(_SC_CLK_TCK);
    const std::uint64_t ticks = parse_stat_cpu_ticks(read_text_file("/proc/" + std::to_string(pid) + "/stat"));
    return static_cast<double>(ticks) / static_cast<double>(ticks_per_second);
}

double own_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

memory_figures process_memory(long pid) {
    const std::string base = "/proc/" + std::to_string(pid);
    const auto rss = parse_status_number(read_text_file(base + "/status"), "VmRSS");
    const auto pss = parse_status_number(read_text_file(base + "/smaps_rollup"), "Pss");
    if (!rss || !pss) throw bench_error("no VmRSS or Pss for process " + std::to_string(pid));
    return {*rss, *pss};
}

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

bool process_ended(long pid) {
    std::string stat;
    try {
        stat = read_text_file("/proc/" + std::to_string(pid) + "/stat");
    } catch (const bench_error&) {
    }
    // Nothing read: the entry is gone, or the process vanished between the
    // open and the read; kill tells that from a failure of /proc itself.
    if (stat.empty()) {
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return true;
        throw bench_error("cannot read the state of process " + std::to_string(pid));
    }
    const char state = parse_stat_state(stat);
    return state == 'Z' || state == 'X';
}

}  // namespace ftpbench
