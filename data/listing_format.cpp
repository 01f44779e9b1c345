#include "data/listing_format.h"

#include "lib/errors.h"
#include "lib/text.h"

namespace ZT {

namespace {

constexpr std::uint64_t ticks_per_second = 10'000'000;
constexpr std::uint64_t seconds_per_day = 86'400;

// Days from 0000-03-01 to 1601-01-01 in the proleptic Gregorian calendar.
// Counting from a 1 March puts each leap day at the end of its year.
constexpr std::uint64_t days_from_march_0000_to_1601 = 584'694;
constexpr std::uint64_t days_per_era = 146'097;  // 400 years

constexpr std::size_t list_size_width = 13;

std::string two_digits(std::uint32_t value) {
    return format_uint(value, 2);
}

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

std::string format_list_time(const time_fields& time, const time_fields& now) {
    std::string result = month_abbreviation(time.month) + " " + format_uint(time.day) + " ";
    if (time.year == now.year) return result + two_digits(time.hour) + ":" + two_digits(time.minute);
    return result + " " + format_uint(time.year, 4);
}

std::string format_list_line(const file_info& info, std::string_view name, const time_fields& now) {
    std::string line = info.is_directory ? "drwxrwxrwx   1 0        0   " : "-rw-rw-rw-   1 0        0   ";
    const std::string size = format_uint(info.is_directory ? 4096 : info.size);
    if (size.size() < list_size_width) line.append(list_size_width - size.size(), ' ');
    line += size;
    line += ' ';
    line += info.last_write_time == 0 ? std::string("Jan 01 00:00")
                                      : format_list_time(system_time_fields(info.last_write_time), now);
    line += ' ';
    line += name;
    return line;
}

std::string format_mlst_time(std::uint64_t file_time) {
    if (file_time == 0) return {};
    time_fields t;
    try {
        t = system_time_fields(file_time);
    } catch (const invalid_input&) {
        return {};
    }
    if (t.year > 9999) return {};
    return format_uint(t.year, 4) + two_digits(t.month) + two_digits(t.day) + two_digits(t.hour) +
           two_digits(t.minute) + two_digits(t.second);
}

std::string format_mlst_line(const file_info& info, std::string_view name, const mlst_fact_set& facts) {
    std::string line;
    if (info.is_directory) {
        if (facts.enabled("TYPE")) line += "Type=dir;";
    } else {
        if (facts.enabled("TYPE")) line += "Type=file;";
        if (facts.enabled("SIZE")) line += "Size=" + format_uint(info.size) + ";";
        if (facts.enabled("MODIFY")) {
            const std::string modify = format_mlst_time(info.last_write_time);
            if (!modify.empty()) line += "Modify=" + modify + ";";
        }
    }
    line += ' ';
    line += name;
    return line;
}

}  // namespace ZT
