// The exact bytes of the four listing kinds: the Unix-style lines of LIST, the
// bare names of NLST and the fact lines of MLSD and MLST. Lines are returned
// without their line end; the callers add "\r\n". Every time is UTC: no local
// time zone is applied anywhere, and nothing here calls the system.
#pragma once

#include "fs/native_file.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>

namespace ZT {

// A file time (100 ns units since 1601-01-01 UTC) as calendar fields.
struct time_fields {
    std::uint32_t year = 0;
    std::uint32_t month = 0;  // 1 to 12
    std::uint32_t day = 0;    // 1 to 31
    std::uint32_t hour = 0;
    std::uint32_t minute = 0;
    std::uint32_t second = 0;
};

// The calendar fields of a file time, in UTC. Times with the top bit set (after
// 30828-09-14 02:48:05) cannot be converted, as on Windows, and throw
// invalid_input.
time_fields system_time_fields(std::uint64_t file_time);

// The facts that MLSD and MLST show. Until OPTS MLST chooses, every fact is
// shown; afterwards only those named so far (upper case). Names accumulate over
// every OPTS MLST and unknown names are kept without effect.
struct mlst_fact_set {
    bool chosen = false;
    std::set<std::string, std::less<>> names;

    // Whether the fact with this upper-case name (TYPE, SIZE, MODIFY) is shown.
    bool enabled(std::string_view upper_name) const;
};

// "Jan" to "Dec" for 1 to 12; empty text for any other number.
std::string month_abbreviation(std::uint32_t month);

// The date column of a LIST line: month, a space, the day without padding, a
// space, then "HH:MM" when the year is the year of `now`, else a space and the
// year in at least four digits.
std::string format_list_time(const time_fields& time, const time_fields& now);

// One LIST line: the fixed mode and owner column, the size (4096 for any
// directory) right-aligned in 13 places, the date column ("Jan 01 00:00" for a
// time of 0) and the name. A time that cannot be converted throws invalid_input.
std::string format_list_line(const file_info& info, std::string_view name, const time_fields& now);
// format_list_line appended to `out`; on a time that cannot be converted `out`
// is left as it was.
void append_list_line(std::string& out, const file_info& info, std::string_view name, const time_fields& now);

// The Modify value: 14 digits YYYYMMDDHHMMSS, or empty text for a time of 0, a
// year above 9999 or a time that cannot be converted. Never throws.
std::string format_mlst_time(std::uint64_t file_time);

// One fact line: "Type=file;Size=N;Modify=T;" for a file ("Modify" left out when
// its value is empty), "Type=dir;" for a directory, each fact only when enabled;
// then a space and the name.
std::string format_mlst_line(const file_info& info, std::string_view name, const mlst_fact_set& facts);
// format_mlst_line appended to `out`.
void append_mlst_line(std::string& out, const file_info& info, std::string_view name, const mlst_fact_set& facts);

}  // namespace ZT
