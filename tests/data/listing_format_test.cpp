#include "data/listing_format.h"

#include "lib/errors.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ZT {
namespace {

// File times (100 ns units since 1601-01-01 UTC), computed with Python's datetime.
constexpr std::uint64_t second = 10'000'000;
constexpr std::uint64_t t_1970_01_01 = 116444736000000000;
constexpr std::uint64_t t_2024_02_29_130509 = 133536855090000000;
constexpr std::uint64_t t_2024_03_05_0907 = 133541032200000000;
constexpr std::uint64_t t_2024_12_01 = 133774848000000000;
constexpr std::uint64_t t_2023_12_31_235959 = 133485407990000000;
constexpr std::uint64_t t_2019_11_17_1830 = 132184890000000000;
constexpr std::uint64_t t_9999_12_31_235959 = 2650467743990000000;
constexpr std::uint64_t t_10000_01_01 = 2650467744000000000;
constexpr std::uint64_t t_last = 0x7FFFFFFFFFFFFFFF;
constexpr std::uint64_t t_bad = 0x8000000000000000;

file_info file(std::uint64_t size, std::uint64_t time) {
    file_info info;
    info.size = size;
    info.last_write_time = time;
    return info;
}

file_info directory(std::uint64_t size = 0, std::uint64_t time = 0) {
    file_info info = file(size, time);
    info.is_directory = true;
    return info;
}

TEST(listing_format, system_time_fields_table) {
    struct row { std::uint64_t file_time; time_fields expected; };
    const std::vector<row> rows = {
        {0, {1601, 1, 1, 0, 0, 0}},
        {second - 1, {1601, 1, 1, 0, 0, 0}},
        {314496000000000, {1601, 12, 31, 0, 0, 0}},
        {t_1970_01_01, {1970, 1, 1, 0, 0, 0}},
        {94405392000000000, {1900, 2, 28, 12, 0, 0}},
        {94405824000000000, {1900, 3, 1, 0, 0, 0}},  // 1900 has no 29 February
        {125963423990000000, {2000, 2, 29, 23, 59, 59}},
        {157520160000000000, {2100, 3, 1, 0, 0, 0}},
        {t_2024_02_29_130509, {2024, 2, 29, 13, 5, 9}},
        {t_10000_01_01, {10000, 1, 1, 0, 0, 0}},
        {t_last, {30828, 9, 14, 2, 48, 5}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.file_time);
        const time_fields t = system_time_fields(r.file_time);
        const time_fields& e = r.expected;
        EXPECT_EQ(std::vector<std::uint32_t>({t.year, t.month, t.day, t.hour, t.minute, t.second}),
                  std::vector<std::uint32_t>({e.year, e.month, e.day, e.hour, e.minute, e.second}));
    }
    EXPECT_THROW(system_time_fields(t_bad), invalid_input);
    EXPECT_THROW(system_time_fields(UINT64_MAX), invalid_input);
}

TEST(listing_format, month_abbreviations) {
    EXPECT_EQ(month_abbreviation(0), "");
    EXPECT_EQ(month_abbreviation(1), "Jan");
    EXPECT_EQ(month_abbreviation(12), "Dec");
    EXPECT_EQ(month_abbreviation(13), "");
}

TEST(listing_format, list_lines_table) {
    const time_fields now{2024, 6, 1, 12, 0, 0};
    const std::string dir = "drwxrwxrwx   1 0        0   ";
    const std::string reg = "-rw-rw-rw-   1 0        0   ";
    struct row { file_info info; std::string name; std::string expected; };
    const std::vector<row> rows = {
        {directory(123456), "sub", dir + "         4096 Jan 01 00:00 sub"},
        {directory(0, t_2019_11_17_1830), "old", dir + "         4096 Nov 17  2019 old"},
        {file(0, 0), "empty", reg + "            0 Jan 01 00:00 empty"},
        {file(1234567890123, 0), "13", reg + "1234567890123 Jan 01 00:00 13"},
        {file(12345678901234, 0), "14", reg + "12345678901234 Jan 01 00:00 14"},
        {file(7, t_2024_03_05_0907), "a b", reg + "            7 Mar 5 09:07 a b"},
        {file(7, t_2024_12_01), "x", reg + "            7 Dec 1 00:00 x"},
        {file(7, t_2023_12_31_235959), "x", reg + "            7 Dec 31  2023 x"},
        {file(7, t_2019_11_17_1830), "\xc3\xa9t\xc3\xa9", reg + "            7 Nov 17  2019 \xc3\xa9t\xc3\xa9"},
        {file(7, t_10000_01_01), "x", reg + "            7 Jan 1  10000 x"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.expected);
        EXPECT_EQ(format_list_line(r.info, r.name, now), r.expected);
    }
    EXPECT_THROW(format_list_line(file(7, t_bad), "x", now), invalid_input);
    EXPECT_EQ(format_list_time({999, 1, 2, 3, 4, 5}, now), "Jan 2  0999");
}

TEST(listing_format, mlst_time_table) {
    const std::vector<std::pair<std::uint64_t, std::string>> rows = {
        {0, ""},
        {second, "16010101000001"},
        {t_1970_01_01, "19700101000000"},
        {t_2024_02_29_130509, "20240229130509"},
        {t_9999_12_31_235959, "99991231235959"},
        {t_10000_01_01, ""},
        {t_last, ""},
        {t_bad, ""},
        {UINT64_MAX, ""},
    };
    for (const auto& [time, expected] : rows) {
        SCOPED_TRACE(time);
        EXPECT_EQ(format_mlst_time(time), expected);
    }
}

TEST(listing_format, mlst_lines_table) {
    const mlst_fact_set all;
    const mlst_fact_set size_only{true, {"SIZE"}};
    const mlst_fact_set none{true, {}};
    const mlst_fact_set modify_and_unknown{true, {"MODIFY", "PERM", "UNIQUE"}};
    const mlst_fact_set type_only{true, {"TYPE"}};
    const file_info leap = file(1234, t_2024_02_29_130509);
    struct row { file_info info; const mlst_fact_set* facts; std::string expected; };
    const std::vector<row> rows = {
        {leap, &all, "Type=file;Size=1234;Modify=20240229130509; name"},
        {directory(99, t_2024_02_29_130509), &all, "Type=dir; name"},
        {file(5, 0), &all, "Type=file;Size=5; name"},
        {file(5, t_10000_01_01), &all, "Type=file;Size=5; name"},
        {file(5, t_bad), &all, "Type=file;Size=5; name"},
        {leap, &size_only, "Size=1234; name"},
        {directory(), &size_only, " name"},
        {leap, &none, " name"},
        {directory(), &none, " name"},
        {leap, &modify_and_unknown, "Modify=20240229130509; name"},
        {leap, &type_only, "Type=file; name"},
        {directory(), &type_only, "Type=dir; name"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.expected);
        EXPECT_EQ(format_mlst_line(r.info, "name", *r.facts), r.expected);
    }
}

}  // namespace
}  // namespace ZT
