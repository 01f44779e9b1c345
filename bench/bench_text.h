// The pure pieces of the benchmark client: reading FTP replies and the PASV
// address, size arguments, the /proc figures of a process, the statistics
// printed, the figures of each window of a timed workload, the shares and
// samples of held sessions and the verdict of a soak. No system calls here,
// so each piece is tested on its own (bench/bench_text_test.cpp). Standard
// library only, like the client itself.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ftpbench {

// Every failure of the benchmark: a refused reply, a broken connection, a
// timeout, a bad argument. The message says what was asked and what came back.
struct bench_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One complete reply: its three-digit code and every line of it, joined by "\n".
struct ftp_reply {
    int code = 0;
    std::string text;
};

// Assembles a reply from its lines (without CR LF). A single-line reply is
// "ddd text"; a multi-line one starts "ddd-text" and ends at the first line
// "ddd text" with the same code, any lines in between belonging to it.
class reply_assembler {
public:
    // Adds one line; returns true when it completed the reply, which reply()
    // then holds. Throws bench_error for a first line that is not a reply.
    bool add(std::string_view line) {
        if (!open_) {
            if (line.size() < 3 || !digits(line.substr(0, 3)) || (line.size() > 3 && line[3] != ' ' && line[3] != '-'))
                throw bench_error("not an FTP reply: \"" + std::string(line) + "\"");
            reply_ = ftp_reply{(line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0'), std::string(line)};
            open_ = line.size() > 3 && line[3] == '-';
            return !open_;
        }
        reply_.text += '\n';
        reply_.text += line;
        if (line.size() >= 4 && line[3] == ' ' && line.substr(0, 3) == reply_.text.substr(0, 3)) open_ = false;
        return !open_;
    }

    const ftp_reply& reply() const { return reply_; }

private:
    static bool digits(std::string_view text) {
        return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    }

    ftp_reply reply_;
    bool open_ = false;
};

// The address of a "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)" reply.
// The numbers may stand anywhere in the text, with or without parentheses.
struct passive_address {
    std::uint8_t host[4] = {};
    std::uint16_t port = 0;
};

// Throws bench_error when the text holds no list of exactly six comma-separated
// numbers of 0-255.
inline passive_address parse_pasv_reply(std::string_view text) {
    for (std::size_t start = 0; start < text.size(); ++start) {
        // A candidate starts at a digit that does not continue a number or a list.
        if (text[start] < '0' || text[start] > '9' ||
            (start > 0 && ((text[start - 1] >= '0' && text[start - 1] <= '9') || text[start - 1] == ',')))
            continue;
        unsigned values[6];
        std::size_t at = start;
        int found = 0;
        for (; found < 6; ++found) {
            if (found > 0) {
                if (at >= text.size() || text[at] != ',') break;
                ++at;
            }
            std::size_t digits = 0;
            unsigned value = 0;
            while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
                value = value * 10 + static_cast<unsigned>(text[at] - '0');
                ++at;
                ++digits;
            }
            if (digits == 0 || digits > 3 || value > 255) break;
            values[found] = value;
        }
        if (found == 6 && (at == text.size() || ((text[at] < '0' || text[at] > '9') && text[at] != ','))) {
            passive_address result;
            for (int i = 0; i < 4; ++i) result.host[i] = static_cast<std::uint8_t>(values[i]);
            result.port = static_cast<std::uint16_t>(values[4] * 256 + values[5]);
            return result;
        }
    }
    throw bench_error("no passive address in \"" + std::string(text) + "\"");
}

// A byte count: digits with an optional binary suffix K, M or G (KiB, MiB,
// GiB). Throws bench_error for anything else, zero included, or an overflow.
inline std::uint64_t parse_size(std::string_view text) {
    std::uint64_t value = 0;
    std::size_t at = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        if (value > (UINT64_MAX - 9) / 10) throw bench_error("size too large: " + std::string(text));
        value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
    }
    std::uint64_t unit = 1;
    if (at + 1 == text.size()) {
        switch (text[at]) {
        case 'K': case 'k': unit = 1ull << 10; break;
        case 'M': case 'm': unit = 1ull << 20; break;
        case 'G': case 'g': unit = 1ull << 30; break;
        default: throw bench_error("not a size: " + std::string(text));
        }
        ++at;
    }
    if (at == 0 || at != text.size() || value == 0) throw bench_error("not a size: " + std::string(text));
    if (value > UINT64_MAX / unit) throw bench_error("size too large: " + std::string(text));
    return value * unit;
}

// The size of a "213 12345" reply to SIZE; nothing for any other reply.
inline std::optional<std::uint64_t> parse_size_reply(const ftp_reply& reply) {
    if (reply.code != 213 || reply.text.size() < 5) return std::nullopt;
    std::string_view digits = std::string_view(reply.text).substr(4);
    while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\r')) digits.remove_suffix(1);
    if (digits.empty() || digits.size() > 19) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

// utime + stime, in clock ticks, of a /proc/PID/stat text. The command name in
// parentheses may hold blanks and parentheses, so the fields are counted from
// the last ')'. Throws bench_error for a text that is too short.
inline std::uint64_t parse_stat_cpu_ticks(std::string_view stat) {
    const std::size_t close = stat.rfind(')');
    if (close == std::string_view::npos) throw bench_error("unreadable /proc stat");
    // After ") " come field 3 (state) onwards; utime and stime are fields 14 and 15.
    std::string_view rest = stat.substr(close + 1);
    std::uint64_t ticks = 0;
    for (int field = 3; field <= 15; ++field) {
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        std::size_t end = rest.find(' ');
        if (end == std::string_view::npos) end = rest.size();
        if (end == 0) throw bench_error("unreadable /proc stat");
        if (field >= 14) {
            std::uint64_t value = 0;
            for (char c : rest.substr(0, end)) {
                if (c < '0' || c > '9') throw bench_error("unreadable /proc stat");
                value = value * 10 + static_cast<std::uint64_t>(c - '0');
            }
            ticks += value;
        }
        rest.remove_prefix(end);
    }
    return ticks;
}

// The state letter of a /proc/PID/stat text (field 3: R, S, D, Z for a process
// that has exited and waits for its parent, ...), read after the last ')'
// like the CPU ticks. Throws bench_error when there is no such field.
inline char parse_stat_state(std::string_view stat) {
    const std::size_t close = stat.rfind(')');
    if (close == std::string_view::npos || close + 2 >= stat.size() || stat[close + 1] != ' ')
        throw bench_error("unreadable /proc stat");
    const char state = stat[close + 2];
    const bool letter = (state >= 'A' && state <= 'Z') || (state >= 'a' && state <= 'z');
    if (!letter || (close + 3 < stat.size() && stat[close + 3] != ' ')) throw bench_error("unreadable /proc stat");
    return state;
}

// The number of a "Key:   1234 kB" line of /proc/PID/status or smaps_rollup
// (in KiB), or of a "Key:\t12" line (a count, such as Threads); nothing when
// no line has that key.
inline std::optional<std::uint64_t> parse_status_number(std::string_view text, std::string_view key) {
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(at, end - at);
        if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == ':') {
            std::size_t i = key.size() + 1;
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
            std::uint64_t value = 0;
            const std::size_t first = i;
            for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i)
                value = value * 10 + static_cast<std::uint64_t>(line[i] - '0');
            if (i == first) return std::nullopt;
            return value;
        }
        at = end + 1;
    }
    return std::nullopt;
}

// The nearest-rank percentile (0 < p <= 100) of the values: the smallest value
// with at least p % of them at or below it. Throws bench_error when empty.
inline double percentile(std::vector<double> values, double p) {
    if (values.empty()) throw bench_error("no samples");
    std::size_t rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(values.size())));
    rank = std::clamp<std::size_t>(rank, 1, values.size());
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(rank - 1), values.end());
    return values[rank - 1];
}

// The middle value (the lower middle one for an even count).
inline double median(std::vector<double> values) {
    if (values.empty()) throw bench_error("no samples");
    std::sort(values.begin(), values.end());
    return values[(values.size() - 1) / 2];
}

// A remote path in `folder`: "/" + name for the root, folder + "/" + name otherwise.
inline std::string remote_path(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (path.empty() || path.back() != '/') path += '/';
    return path + std::string(name);
}

// --- Windows of a timed workload ----------------------------------------------

// The boundaries (seconds from the start) between windows of `window` seconds
// in a run of `duration` seconds: every multiple of the window before the end.
// The run's end closes the last window, so a duration that is not a multiple
// leaves a shorter last window rather than a window of a few milliseconds.
// Throws bench_error for a window that is not positive or that is longer than
// the run, and for more than 10,000 windows.
inline std::vector<double> window_boundaries(double duration, double window) {
    if (!(window > 0) || window > duration) throw bench_error("the window must be from 0 to the duration");
    if (duration / window > 10'000) throw bench_error("more than 10000 windows");
    std::vector<double> boundaries;
    // A boundary within a thousandth of a window of the end would make a last
    // window that holds nothing but rounding.
    for (int k = 1; k * window < duration - window * 1e-3; ++k) boundaries.push_back(k * window);
    return boundaries;
}

// One reading during a timed workload: seconds from its start, the operations
// finished so far and the server's CPU time so far (seconds).
struct window_reading {
    double seconds;
    std::uint64_t done;
    double cpu_seconds;
};

// The figures of the window between two readings: operations per second, and
// the server's CPU per operation in microseconds (nothing when the window
// holds no operation).
struct window_figure {
    double rate;
    std::optional<double> cpu_us_per_operation;
};

// One figure per pair of consecutive readings. Throws bench_error when the
// readings go back in time or in count (a sampler's fault, not the server's).
inline std::vector<window_figure> window_figures(const std::vector<window_reading>& readings) {
    std::vector<window_figure> figures;
    for (std::size_t i = 1; i < readings.size(); ++i) {
        const window_reading& from = readings[i - 1];
        const window_reading& to = readings[i];
        if (!(to.seconds > from.seconds) || to.done < from.done)
            throw bench_error("window readings out of order");
        const double operations = static_cast<double>(to.done - from.done);
        window_figure figure{operations / (to.seconds - from.seconds), std::nullopt};
        if (operations > 0) figure.cpu_us_per_operation = (to.cpu_seconds - from.cpu_seconds) * 1e6 / operations;
        figures.push_back(figure);
    }
    return figures;
}

// --- Held sessions -----------------------------------------------------------------

// The indexes from begin up to (not including) end.
struct index_range {
    std::size_t begin = 0, end = 0;
};

// Part `part` (from 0) of `count` indexes cut into `parts` stretches one after
// the other whose sizes differ by one at most, the larger ones first: together
// the parts hold every index once. Throws bench_error when `part` is not
// below `parts`.
inline index_range part_of(std::size_t count, std::size_t parts, std::size_t part) {
    if (part >= parts) throw bench_error("no part " + std::to_string(part) + " of " + std::to_string(parts));
    const std::size_t base = count / parts, larger = count % parts;
    const std::size_t begin = part * base + std::min(part, larger);
    return {begin, begin + base + (part < larger ? 1 : 0)};
}

// The indexes of `count` items that a check samples: every `step`th one from
// the first, and the last one. Empty for no items. Throws bench_error for a
// step of 0.
inline std::vector<std::size_t> sampled_indexes(std::size_t count, std::size_t step) {
    if (step == 0) throw bench_error("a step of 0");
    std::vector<std::size_t> indexes;
    for (std::size_t i = 0; i < count; i += step) indexes.push_back(i);
    if (count > 0 && indexes.back() != count - 1) indexes.push_back(count - 1);
    return indexes;
}

// --- Soak ------------------------------------------------------------------------

// What a process holds at one moment.
struct process_usage {
    std::uint64_t rss_kib = 0;
    std::uint64_t descriptors = 0;
    std::uint64_t threads = 0;
};

// How much each figure may grow between the first and the last reading of a
// soak before it counts as growth.
//
// RSS: the larger of a fixed amount and a share of the first reading. The
// allocator keeps freed blocks for reuse in the arena of whichever thread freed
// them, so which pages are resident after a workload depends on which worker
// threads happened to serve the biggest buffers; between two quiet moments of
// the same server that moves by a few MiB, while a leak of even a few hundred
// bytes per transfer adds tens of MiB over minutes of thousands of transfers a
// second.
//
// Descriptors: a few, for a listening passive socket or a closing connection
// caught at the reading, and one more for every thread that was added, since
// a server's worker may hold a descriptor of its own (TARVEX's each hold an
// event to wake them); a leak of one per session or per transfer adds
// thousands.
//
// Threads: the server's worker pool keeps every worker it created, so its size
// is the most sessions that were ever busy at once; a later round of 64
// sessions that starts while the server is still finishing the previous
// round's sessions sets a slightly higher peak. A leaked thread per session
// adds one per session.
struct growth_tolerance {
    std::uint64_t rss_kib = 8 << 10;
    std::uint64_t rss_percent = 10;
    std::uint64_t descriptors = 4;
    std::uint64_t threads = 16;
};

// The figures that grew past their tolerance from `first` to `last`, one
// message each ("RSS grew by ..."); empty when everything stayed flat.
// Shrinking is never growth.
inline std::vector<std::string> growth_verdict(const process_usage& first, const process_usage& last,
                                               const growth_tolerance& tolerance = {}) {
    std::vector<std::string> excess;
    auto check = [&](const char* what, std::uint64_t from, std::uint64_t to, std::uint64_t allowed,
                     const char* unit) {
        if (to <= from || to - from <= allowed) return;
        std::ostringstream message;
        message << what << " grew by " << (to - from) << " " << unit << " (from " << from << " to " << to
                << "), more than the " << allowed << " allowed";
        excess.push_back(message.str());
    };
    check("RSS", first.rss_kib, last.rss_kib,
          std::max(tolerance.rss_kib, first.rss_kib * tolerance.rss_percent / 100), "KiB");
    const std::uint64_t added_threads = last.threads > first.threads ? last.threads - first.threads : 0;
    check("descriptors", first.descriptors, last.descriptors, tolerance.descriptors + added_threads, "descriptors");
    check("threads", first.threads, last.threads, tolerance.threads, "threads");
    return excess;
}

}  // namespace ftpbench
