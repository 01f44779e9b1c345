#include "fs/native_file.h"

#include "lib/errors.h"
#include "lib/text.h"

#include <windows.h>

namespace ZT {

namespace {

std::wstring wide_path(const std::string& path) {
    const std::u16string units = utf8_to_utf16(path);
    return std::wstring(units.begin(), units.end());
}

std::uint64_t join(DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; }

std::uint64_t file_time(const FILETIME& t) { return join(t.dwHighDateTime, t.dwLowDateTime); }

// WIN32_FILE_ATTRIBUTE_DATA and WIN32_FIND_DATAW begin with the same fields.
template <typename Data>
file_info info_from_data(const Data& data) {
    file_info info;
    info.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.is_hidden = (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
    info.size = join(data.nFileSizeHigh, data.nFileSizeLow);
    info.last_access_time = file_time(data.ftLastAccessTime);
    info.last_write_time = file_time(data.ftLastWriteTime);
    info.creation_time = file_time(data.ftCreationTime);
    return info;
}

}  // namespace

file_info get_file_info(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    SetLastError(0);
    if (!GetFileAttributesExW(wide_path(path).c_str(), GetFileExInfoStandard, &data)) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) throw file_not_found();
        throw_file_error(code);
    }
    return info_from_data(data);
}

}  // namespace ZT
