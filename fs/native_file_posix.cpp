#include "fs/native_file.h"

#include "lib/errors.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace ZT {

namespace {

// Seconds and nanoseconds since 1970 as a Windows file time.
std::uint64_t to_file_time(const timespec& t) {
    constexpr std::uint64_t seconds_1601_to_1970 = 11644473600ULL;
    if (t.tv_sec < 0) return 0;
    return (static_cast<std::uint64_t>(t.tv_sec) + seconds_1601_to_1970) * 10000000ULL +
           static_cast<std::uint64_t>(t.tv_nsec) / 100;
}

// The last component of a path, for the "hidden" rule (a leading full stop).
bool has_hidden_name(const std::string& path) {
    std::string::size_type end = path.size();
    while (end > 1 && path[end - 1] == '/') --end;
    const std::string::size_type slash = path.rfind('/', end - 1);
    const std::string::size_type start = slash == std::string::npos ? 0 : slash + 1;
    return start < end && path[start] == '.' && path.compare(start, end - start, ".") != 0 &&
           path.compare(start, end - start, "..") != 0;
}

file_info info_from_stat(const struct stat& st, bool hidden) {
    file_info info;
    info.is_directory = S_ISDIR(st.st_mode);
    info.is_hidden = hidden;
    info.size = info.is_directory ? 0 : static_cast<std::uint64_t>(st.st_size);
    info.last_access_time = to_file_time(st.st_atim);
    info.last_write_time = to_file_time(st.st_mtim);
    info.creation_time = to_file_time(st.st_mtim);
    return info;
}

}  // namespace

file_info get_file_info(const std::string& path) {
    struct stat st {};
    clear_last_file_error();
    if (::stat(path.c_str(), &st) != 0) throw_last_file_error();
    return info_from_stat(st, has_hidden_name(path));
}

}  // namespace ZT
