#include "data/listing_format.h"

#include "lib/errors.h"
#include "lib/text.h"

#include <optional>

namespace ZT {

namespace {

constexpr std::uint64_t ticks_per_second = 10'000'000;
constexpr std::uint64_t seconds_per_day = 86'400;

// Days from 0000-03-01 to 1601-01-01 in the proleptic Gregorian calendar.
// Counting from a 1 March puts each leap day at the end of its year.
constexpr std::uint64_t days_from_march_0000_to_1601 = 584'694;
constexpr std::uint64_t days_per_era = 146'097;  // 400 years

constexpr std::size_t list_size_width = 13;

}  // namespace

time_fields system_time_fields(std::uint64_t file_time) {
    if (file_time >> 63) throw invalid_input();
    const std::uint64_t seconds = file_time / ticks_per_second;
    const std::uint64_t second_of_day = seconds % seconds_per_day;

    // Civil date from a day count, in 400-year eras starting on 1 March.
    const std::uint64_t days = seconds / seconds_per_day + days_from_march_0000_to_1601;
    const std::uint64_t era = days / days_per_era;
    const std::uint64_t day_of_era = days % days_per_era;
    const std::uint64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::uint64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::uint64_t month_from_march = (5 * day_of_year + 2) / 153;  // 0 is March

    time_fields result;
    result.day = static_cast<std::uint32_t>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
    result.month = static_cast<std::uint32_t>(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
    result.year = static_cast<std::uint32_t>(era * 400 + year_of_era + (result.month <= 2 ? 1 : 0));
    result.hour = static_cast<std::uint32_t>(second_of_day / 3600);
    result.minute = static_cast<std::uint32_t>(second_of_day / 60 % 60);
    result.second = static_cast<std::uint32_t>(second_of_day % 60);
    return result;
}

bool mlst_fact_set::enabled(std::string_view upper_name) const {
    return !chosen || names.find(upper_name) != names.end();
}

std::string month_abbreviation(std::uint32_t month) {
    static const char* const names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (month < 1 || month > 12) return {};
    return names[month - 1];
}

namespace {

// The listing lines are appended to one growing text, piece by piece: a
// listing of many thousands of entries then makes no temporary text per line.

void append_list_time(std::string& out, const time_fields& time, const time_fields& now) {
    out += month_abbreviation(time.month);
    out += ' ';
    append_uint(out, time.day);
    out += ' ';
    if (time.year == now.year) {
        append_uint(out, time.hour, 2);
        out += ':';
        append_uint(out, time.minute, 2);
    } else {
        out += ' ';
        append_uint(out, time.year, 4);
    }
}

// The calendar fields of a Modify value; none for a time of 0, a year above
// 9999 or a time that cannot be converted.
std::optional<time_fields> mlst_time_fields(std::uint64_t file_time) {
    if (file_time == 0) return std::nullopt;
    time_fields t;
    try {
        t = system_time_fields(file_time);
    } catch (const invalid_input&) {
        return std::nullopt;
    }
    if (t.year > 9999) return std::nullopt;
    return t;
}

void append_mlst_time(std::string& out, const time_fields& t) {
    append_uint(out, t.year, 4);
    for (std::uint32_t field : {t.month, t.day, t.hour, t.minute, t.second}) append_uint(out, field, 2);
}

std::size_t decimal_digits(std::uint64_t value) {
    std::size_t count = 1;
    while (value >= 10) {
        value /= 10;
        ++count;
    }
    return count;
}

}  // namespace

std::string format_list_time(const time_fields& time, const time_fields& now) {
    std::string result;
    append_list_time(result, time, now);
    return result;
}

void append_list_line(std::string& out, const file_info& info, std::string_view name, const time_fields& now) {
    // Converted before anything is appended: a time that cannot be converted
    // leaves the text as it was.
    const std::optional<time_fields> time =
        info.last_write_time == 0 ? std::nullopt : std::optional(system_time_fields(info.last_write_time));
    out += info.is_directory ? "drwxrwxrwx   1 0        0   " : "-rw-rw-rw-   1 0        0   ";
    const std::uint64_t size = info.is_directory ? 4096 : info.size;
    const std::size_t digits = decimal_digits(size);
    if (digits < list_size_width) out.append(list_size_width - digits, ' ');
    append_uint(out, size);
    out += ' ';
    if (time) {
        append_list_time(out, *time, now);
    } else {
        out += "Jan 01 00:00";
    }
    out += ' ';
    out += name;
}

std::string format_list_line(const file_info& info, std::string_view name, const time_fields& now) {
    std::string line;
    append_list_line(line, info, name, now);
    return line;
}

std::string format_mlst_time(std::uint64_t file_time) {
    std::string result;
    if (const std::optional<time_fields> t = mlst_time_fields(file_time)) append_mlst_time(result, *t);
    return result;
}

void append_mlst_line(std::string& out, const file_info& info, std::string_view name, const mlst_fact_set& facts) {
    if (info.is_directory) {
        if (facts.enabled("TYPE")) out += "Type=dir;";
    } else {
        if (facts.enabled("TYPE")) out += "Type=file;";
        if (facts.enabled("SIZE")) {
            out += "Size=";
            append_uint(out, info.size);
            out += ';';
        }
        if (facts.enabled("MODIFY")) {
            if (const std::optional<time_fields> t = mlst_time_fields(info.last_write_time)) {
                out += "Modify=";
                append_mlst_time(out, *t);
                out += ';';
            }
        }
    }
    out += ' ';
    out += name;
}

std::string format_mlst_line(const file_info& info, std::string_view name, const mlst_fact_set& facts) {
    std::string line;
    append_mlst_line(line, info, name, facts);
    return line;
}

}  // namespace ZT
