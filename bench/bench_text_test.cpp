// The benchmark client's pure pieces: replies, PASV addresses, sizes, /proc
// texts, the statistics it prints, the windows of a timed workload, the
// shares and samples of held sessions and the verdict of a soak. Built and
// run by scripts/bench.
#include "bench_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ftpbench {
namespace {

struct reply_case {
    std::vector<std::string> lines;
    int complete_after;  // lines read when the reply is complete; 0: never
    int code;
    std::string text;
};

TEST(reply_assembler, single_and_multi_line_replies) {
    const reply_case cases[] = {
        {{"220 TARVEX ready"}, 1, 220, "220 TARVEX ready"},
        {{"200"}, 1, 200, "200"},
        {{"211-Features:", " UTF8", " SIZE", "211 End"}, 4, 211, "211-Features:\n UTF8\n SIZE\n211 End"},
        // Inner lines that look like replies of another code, or a "ddd-" of the
        // same code, do not end it.
        {{"230-Welcome", "220 not the end", "230-still on", "230 done"}, 4, 230,
         "230-Welcome\n220 not the end\n230-still on\n230 done"},
        {{"150-Opening", "150"}, 0, 150, ""},
        {{"226-a", "226 b", "999 next reply"}, 2, 226, "226-a\n226 b"},
    };
    for (const reply_case& c : cases) {
        reply_assembler reply;
        int completed = 0;
        for (std::size_t i = 0; i < c.lines.size() && completed == 0; ++i)
            if (reply.add(c.lines[i])) completed = static_cast<int>(i + 1);
        EXPECT_EQ(completed, c.complete_after) << c.lines.front();
        if (c.complete_after) {
            EXPECT_EQ(reply.reply().code, c.code) << c.lines.front();
            EXPECT_EQ(reply.reply().text, c.text) << c.lines.front();
        }
    }
}

TEST(reply_assembler, refuses_what_is_not_a_reply) {
    for (const char* line : {"", "22", "2x0 text", "220text", "abc def", "220_text"}) {
        reply_assembler reply;
        EXPECT_THROW(reply.add(line), bench_error) << line;
    }
}

TEST(parse_pasv_reply, addresses) {
    struct row {
        const char* text;
        int host0, host3, port;
    };
    const row rows[] = {
        {"227 Entering Passive Mode (127,0,0,1,195,80).", 127, 1, 195 * 256 + 80},
        {"227 Entering Passive Mode (10,1,2,3,0,21)", 10, 3, 21},
        {"227 =192,168,0,9,255,255", 192, 9, 65535},
        // The reply code and other numbers before the address are skipped.
        {"227 ok 12 (1,2,3,4,5,6)", 1, 4, 5 * 256 + 6},
    };
    for (const row& r : rows) {
        const passive_address a = parse_pasv_reply(r.text);
        EXPECT_EQ(a.host[0], r.host0) << r.text;
        EXPECT_EQ(a.host[3], r.host3) << r.text;
        EXPECT_EQ(a.port, r.port) << r.text;
    }
    for (const char* text : {"227 Entering Passive Mode", "227 (127,0,0,1,195)", "227 (127,0,0,1,256,1)",
                             "227 (127,0,0,1,1,1000)", "227 (127,0,0,1,1,-1)", "227 (1,2,3,4,5,6,7)"})
        EXPECT_THROW(parse_pasv_reply(text), bench_error) << text;
}

TEST(parse_size, counts_and_suffixes) {
    struct row {
        const char* text;
        std::uint64_t value;
    };
    const row rows[] = {{"1", 1}, {"65536", 65536}, {"64K", 65536}, {"64k", 65536},
                        {"4M", 4u << 20}, {"1G", 1ull << 30}, {"3g", 3ull << 30}};
    for (const row& r : rows) EXPECT_EQ(parse_size(r.text), r.value) << r.text;
    for (const char* text : {"", "0", "0K", "K", "12T", "1.5G", "-1", "1 G", "99999999999999999999",
                             "17179869184G"})
        EXPECT_THROW(parse_size(text), bench_error) << text;
}

TEST(parse_size_reply, sizes_and_other_replies) {
    EXPECT_EQ(parse_size_reply({213, "213 1073741824"}), 1073741824u);
    EXPECT_EQ(parse_size_reply({213, "213 0"}), 0u);
    EXPECT_EQ(parse_size_reply({550, "550 No such file or directory"}), std::nullopt);
    EXPECT_EQ(parse_size_reply({502, "502 Unknown command"}), std::nullopt);
    EXPECT_EQ(parse_size_reply({213, "213 12a"}), std::nullopt);
    EXPECT_EQ(parse_size_reply({213, "213 "}), std::nullopt);
}

TEST(parse_stat_cpu_ticks, user_plus_system_after_the_command_name) {
    // Fields 14 and 15 (utime, stime) are 1500 and 250; a command name with
    // blanks and parentheses must not shift them.
    const std::string tail = " S 1 2 3 4 5 6 7 8 9 10 1500 250 77 88 20 0 9 0 100 2000000 300";
    EXPECT_EQ(parse_stat_cpu_ticks("4242 (tarvex)" + tail), 1750u);
    EXPECT_EQ(parse_stat_cpu_ticks("4242 (a b) (c))" + tail), 1750u);
    EXPECT_THROW(parse_stat_cpu_ticks("4242 tarvex S 1 2"), bench_error);
    EXPECT_THROW(parse_stat_cpu_ticks("4242 (tarvex) S 1 2 3"), bench_error);
}

TEST(parse_stat_state, the_letter_after_the_command_name) {
    struct row {
        const char* stat;
        char state;
    };
    const row rows[] = {
        {"4242 (tarvex) S 1 2 3", 'S'},
        {"4242 (tarvex) Z 1 0 0", 'Z'},
        {"4242 (tarvex) t", 't'},
        // Blanks, parentheses and a fake state inside the command name.
        {"4242 (a) R (b)) X 1 2", 'X'},
    };
    for (const row& r : rows) EXPECT_EQ(parse_stat_state(r.stat), r.state) << r.stat;
    for (const char* stat : {"", "4242 tarvex S 1", "4242 (tarvex)", "4242 (tarvex) ", "4242 (tarvex)S 1",
                             "4242 (tarvex) 1 2", "4242 (tarvex) SS 1"})
        EXPECT_THROW(parse_stat_state(stat), bench_error) << stat;
}

TEST(parse_status_number, status_and_smaps_rollup_lines) {
    const std::string status = "Name:\ttarvex\nVmPeak:\t  300000 kB\nVmRSS:\t    5120 kB\nRssAnon:\t 1000 kB\n"
                               "Threads:\t67\nSigQ:\t0/31\n";
    const std::string rollup = "00400000-7ffd [rollup]\nRss:                5120 kB\nPss:                4096 kB\n"
                               "Pss_Anon:           1000 kB\n";
    EXPECT_EQ(parse_status_number(status, "VmRSS"), 5120u);
    EXPECT_EQ(parse_status_number(rollup, "Pss"), 4096u);  // not Pss_Anon
    EXPECT_EQ(parse_status_number(rollup, "Pss_Anon"), 1000u);
    EXPECT_EQ(parse_status_number(status, "Threads"), 67u);  // a count, no unit, the last key before SigQ
    EXPECT_EQ(parse_status_number(status, "VmSwap"), std::nullopt);
    EXPECT_EQ(parse_status_number(status, "Thread"), std::nullopt);  // a prefix of a key is not the key
    EXPECT_EQ(parse_status_number("VmRSS:\tnone\n", "VmRSS"), std::nullopt);
}

TEST(statistics, nearest_rank_percentiles_and_median) {
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i) hundred.push_back(i);
    EXPECT_EQ(percentile(hundred, 99), 99);
    EXPECT_EQ(percentile(hundred, 50), 50);
    EXPECT_EQ(percentile(hundred, 100), 100);
    // With few samples p99 is the largest one, never past the end.
    EXPECT_EQ(percentile({3, 1, 2}, 99), 3);
    EXPECT_EQ(percentile({7}, 1), 7);
    EXPECT_EQ(median({5, 1, 3}), 3);
    EXPECT_EQ(median({4, 1, 3, 2}), 2);
    EXPECT_THROW(percentile({}, 99), bench_error);
    EXPECT_THROW(median({}), bench_error);
}

TEST(remote_path, joins_folder_and_name) {
    EXPECT_EQ(remote_path("/", "ftpbench-big"), "/ftpbench-big");
    EXPECT_EQ(remote_path("", "ftpbench-big"), "/ftpbench-big");
    EXPECT_EQ(remote_path("/data", "ftpbench-big"), "/data/ftpbench-big");
    EXPECT_EQ(remote_path("/data/", "ftpbench-big"), "/data/ftpbench-big");
}

TEST(window_boundaries, multiples_of_the_window_before_the_end) {
    struct row {
        double duration, window;
        std::vector<double> boundaries;
    };
    const row rows[] = {
        {60, 10, {10, 20, 30, 40, 50}},
        {65, 10, {10, 20, 30, 40, 50, 60}},  // the last window is 5 s
        {1, 0.25, {0.25, 0.5, 0.75}},
        {10, 10, {}},
        // A remainder of a thousandth of a window or less joins the last window.
        {20.005, 10, {10}},
        {20.5, 10, {10, 20}},
    };
    for (const row& r : rows) {
        const std::vector<double> got = window_boundaries(r.duration, r.window);
        ASSERT_EQ(got.size(), r.boundaries.size()) << r.duration << " / " << r.window;
        for (std::size_t i = 0; i < got.size(); ++i) EXPECT_DOUBLE_EQ(got[i], r.boundaries[i]) << r.duration;
    }
    EXPECT_THROW(window_boundaries(10, 0), bench_error);
    EXPECT_THROW(window_boundaries(10, -1), bench_error);
    EXPECT_THROW(window_boundaries(10, 11), bench_error);
    EXPECT_THROW(window_boundaries(3600, 0.1), bench_error);  // 36,000 windows
}

TEST(window_figures, rate_and_server_cpu_of_each_window) {
    // 10 s windows: 25,000 transfers for 5 s of CPU (200 us each), then a
    // slower one, then a stall, then a short last window of 5 s.
    const std::vector<window_reading> readings = {
        {0, 0, 100.0}, {10, 25'000, 105.0}, {20, 45'000, 110.0}, {30, 45'000, 110.5}, {35, 47'000, 111.0},
    };
    const std::vector<window_figure> figures = window_figures(readings);
    ASSERT_EQ(figures.size(), 4u);
    EXPECT_DOUBLE_EQ(figures[0].rate, 2500);
    EXPECT_DOUBLE_EQ(figures[0].cpu_us_per_operation.value(), 200);
    EXPECT_DOUBLE_EQ(figures[1].rate, 2000);
    EXPECT_DOUBLE_EQ(figures[1].cpu_us_per_operation.value(), 250);
    EXPECT_DOUBLE_EQ(figures[2].rate, 0);
    EXPECT_EQ(figures[2].cpu_us_per_operation, std::nullopt);  // no transfer: no CPU per transfer
    EXPECT_DOUBLE_EQ(figures[3].rate, 400);                    // per second of its own length
    EXPECT_DOUBLE_EQ(figures[3].cpu_us_per_operation.value(), 250);

    EXPECT_TRUE(window_figures({{0, 0, 1.0}}).empty());
    EXPECT_THROW(window_figures({{0, 0, 0}, {0, 5, 0}}), bench_error);     // no time between
    EXPECT_THROW(window_figures({{0, 0, 0}, {-1, 5, 0}}), bench_error);    // back in time
    EXPECT_THROW(window_figures({{0, 9, 0}, {1, 5, 0}}), bench_error);     // count going back
}

TEST(part_of, stretches_that_cover_every_index_once) {
    struct row {
        std::size_t count, parts;
        std::vector<std::size_t> sizes;  // of each part, in order
    };
    const row rows[] = {
        {10'000, 16, std::vector<std::size_t>(16, 625)},
        {200, 16, {13, 13, 13, 13, 13, 13, 13, 13, 12, 12, 12, 12, 12, 12, 12, 12}},
        {5, 16, {1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {7, 1, {7}},
        {0, 3, {0, 0, 0}},
    };
    for (const row& r : rows) {
        std::size_t next = 0;
        for (std::size_t part = 0; part < r.parts; ++part) {
            const index_range range = part_of(r.count, r.parts, part);
            EXPECT_EQ(range.begin, next) << r.count << " / " << r.parts << " part " << part;
            EXPECT_EQ(range.end - range.begin, r.sizes[part]) << r.count << " / " << r.parts << " part " << part;
            next = range.end;
        }
        EXPECT_EQ(next, r.count) << r.count << " / " << r.parts;
    }
    EXPECT_THROW(part_of(10, 4, 4), bench_error);
    EXPECT_THROW(part_of(10, 0, 0), bench_error);
}

TEST(sampled_indexes, every_step_and_the_last) {
    struct row {
        std::size_t count, step;
        std::vector<std::size_t> indexes;
    };
    const row rows[] = {
        {1'000, 100, {0, 100, 200, 300, 400, 500, 600, 700, 800, 900, 999}},
        {250, 100, {0, 100, 200, 249}},
        {201, 100, {0, 100, 200}},
        {100, 100, {0, 99}},
        {1, 100, {0}},
        {0, 100, {}},
        {3, 1, {0, 1, 2}},
    };
    for (const row& r : rows) EXPECT_EQ(sampled_indexes(r.count, r.step), r.indexes) << r.count << " / " << r.step;
    EXPECT_THROW(sampled_indexes(10, 0), bench_error);
}

TEST(growth_verdict, last_reading_against_the_first) {
    struct row {
        const char* what;
        process_usage first, last;
        std::vector<std::string> grown;  // the start of each message, in order
    };
    const row rows[] = {
        {"the same", {7000, 10, 70}, {7000, 10, 70}, {}},
        {"everything shrank", {9000, 12, 80}, {7000, 8, 70}, {}},
        {"RSS within 8 MiB of a small first", {7000, 10, 70}, {7000 + 8192, 10, 70}, {}},
        {"RSS just past 8 MiB", {7000, 10, 70}, {7000 + 8193, 10, 70}, {"RSS grew by 8193 KiB"}},
        // Past 80 MiB the 10 % share is the larger allowance.
        {"RSS within 10 % of a large first", {200'000, 10, 70}, {220'000, 10, 70}, {}},
        {"RSS past 10 % of a large first", {200'000, 10, 70}, {220'001, 10, 70}, {"RSS grew by 20001 KiB"}},
        {"four more descriptors", {7000, 10, 70}, {7000, 14, 70}, {}},
        {"five more descriptors", {7000, 10, 70}, {7000, 15, 70}, {"descriptors grew by 5"}},
        // Each added thread may bring a descriptor of its own.
        {"ten more threads, fourteen more descriptors", {7000, 74, 66}, {7000, 88, 76}, {}},
        {"ten more threads, fifteen more descriptors", {7000, 74, 66}, {7000, 89, 76}, {"descriptors grew by 15"}},
        {"fewer threads do not lower the allowance", {7000, 74, 66}, {7000, 78, 60}, {}},
        {"sixteen more threads", {7000, 10, 70}, {7000, 10, 86}, {}},
        {"seventeen more threads", {7000, 10, 70}, {7000, 10, 87}, {"threads grew by 17"}},
        {"a descriptor leak with a thread leak", {7000, 10, 70}, {30'000, 5000, 2000},
         {"RSS grew by 23000 KiB", "descriptors grew by 4990", "threads grew by 1930"}},
        {"a thread leak whose threads each hold a descriptor", {7000, 74, 66}, {9000, 1074, 1066},
         {"threads grew by 1000"}},
    };
    for (const row& r : rows) {
        const std::vector<std::string> got = growth_verdict(r.first, r.last);
        ASSERT_EQ(got.size(), r.grown.size()) << r.what;
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(got[i].rfind(r.grown[i], 0), 0u) << r.what << ": " << got[i];
    }
    // The message says from what to what and what was allowed.
    EXPECT_EQ(growth_verdict({7000, 10, 70}, {7000, 15, 70}).at(0),
              "descriptors grew by 5 descriptors (from 10 to 15), more than the 4 allowed");
    // Other tolerances are honoured, a zero one included.
    growth_tolerance strict;
    strict.rss_kib = 0;
    strict.rss_percent = 0;
    strict.descriptors = 0;
    strict.threads = 0;
    EXPECT_EQ(growth_verdict({7000, 10, 70}, {7001, 12, 71}, strict).size(), 3u);  // one descriptor for the thread
    EXPECT_EQ(growth_verdict({7000, 10, 70}, {7000, 11, 71}, strict).size(), 1u);  // only the thread
    EXPECT_TRUE(growth_verdict({7000, 10, 70}, {7000, 10, 70}, strict).empty());
}

}  // namespace
}  // namespace ftpbench
