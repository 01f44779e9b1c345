#include "fs/native_file.h"

#include "fs/device_name.h"
#include "fs/native_file_common.h"
#include "fs/replace_attributes.h"
#include "lib/abort.h"
#include "lib/errors.h"
#include "lib/text.h"

#include <cwchar>
#include <utility>

#include <windows.h>

namespace ZT {

namespace {

// The UTF-16 path for a Windows call. The conversion stops quietly at the first
// bad character or zero byte, which would leave a shorter path naming another
// file; such a path is refused as an invalid name instead.
std::wstring wide_path(const std::string& path) {
    const std::u16string units = utf8_to_utf16(path);
    if (utf16_to_utf8(units) != path) throw file_access_error();
    return std::wstring(units.begin(), units.end());
}

// The UTF-16 path of a file or directory to open or change. A final component
// such as "nul.txt" or "aux" would reach a device wherever the path points, so
// such a path is refused before any system call sees it.
std::wstring disk_path(const std::string& path) {
    if (names_windows_device(path) || has_dots_only_component(path)) throw file_access_error();
    return wide_path(path);
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

std::string entry_name(const WIN32_FIND_DATAW& data) {
    const wchar_t* name = data.cFileName;
    return utf16_to_utf8(std::u16string(name, name + wcslen(name)));
}

HANDLE as_handle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

}  // namespace

// ---- native_file ----

native_file::native_file() : handle_(reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE)) {}

void native_file::open(const std::string& path, std::uint32_t access, std::uint32_t disposition) {
    close();
    const std::wstring wide = disk_path(path);
    const auto create = [&](DWORD attributes) {
        SetLastError(0);
        return CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                           attributes, nullptr);
    };
    HANDLE file = create(0);
    // A hidden or system file refuses CREATE_ALWAYS without its own attributes;
    // asked again with them, it is emptied like any other file and keeps them.
    if (file == INVALID_HANDLE_VALUE && disposition == CREATE_ALWAYS && GetLastError() == ERROR_ACCESS_DENIED) {
        const DWORD kept = attributes_for_replacing(GetFileAttributesW(wide.c_str()));
        if (kept == 0) throw_file_error(ERROR_ACCESS_DENIED);
        file = create(kept);
    }
    if (file == INVALID_HANDLE_VALUE) throw_last_file_error();
    // A device or pipe reached another way (a "\\.\" path, say) is refused too.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        throw file_access_error();
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
}

void native_file::close() {
    if (!is_open()) return;
    // The handle is gone whatever the answer, so it is never closed a second time.
    const HANDLE file = as_handle(std::exchange(handle_, reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE)));
    bool closed = CloseHandle(file) != 0;
    if (close_made_to_fail()) closed = false;
    if (!closed) throw file_access_error();
}

bool native_file::is_open() const { return as_handle(handle_) != INVALID_HANDLE_VALUE; }

std::size_t native_file::read(void* buffer, std::size_t count) {
    char* out = static_cast<char*>(buffer);
    // A read of nothing is the end of the file.
    return move_in_pieces(count, [&](std::size_t done, std::size_t piece) -> std::ptrdiff_t {
        DWORD got = 0;
        SetLastError(0);
        if (!ReadFile(as_handle(handle_), out + done, static_cast<DWORD>(piece), &got, nullptr))
            throw_last_file_error();
        return got;
    });
}

void native_file::write(const void* buffer, std::size_t count) {
    const char* in = static_cast<const char*>(buffer);
    const std::size_t written = move_in_pieces(count, [&](std::size_t done, std::size_t piece) -> std::ptrdiff_t {
        DWORD put = 0;
        SetLastError(0);
        if (!WriteFile(as_handle(handle_), in + done, static_cast<DWORD>(piece), &put, nullptr))
            throw_last_file_error();
        return put;
    });
    // A write that took nothing would never end.
    if (written < count) throw file_access_error();
}

void native_file::seek(std::uint64_t position) {
    check_open();
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(position);
    SetLastError(0);
    if (!SetFilePointerEx(as_handle(handle_), distance, nullptr, FILE_BEGIN)) throw_last_file_error();
}

std::uint64_t native_file::tell() {
    LARGE_INTEGER distance;
    distance.QuadPart = 0;
    LARGE_INTEGER position;
    position.QuadPart = 0;
    SetLastError(0);
    if (!SetFilePointerEx(as_handle(handle_), distance, &position, FILE_CURRENT)) throw_last_file_error();
    return static_cast<std::uint64_t>(position.QuadPart);
}

std::uint64_t native_file::size() {
    check_open();
    LARGE_INTEGER size;
    size.QuadPart = 0;
    SetLastError(0);
    if (!GetFileSizeEx(as_handle(handle_), &size)) throw_last_file_error();
    return static_cast<std::uint64_t>(size.QuadPart);
}

void native_file::set_end_of_file(std::uint64_t position) {
    const std::uint64_t kept = tell();
    seek(position);
    SetLastError(0);
    const bool cut = SetEndOfFile(as_handle(handle_)) != 0;
    const DWORD code = GetLastError();
    seek(kept);
    if (!cut) throw_file_error(code);
}

void native_file::check_open() {
    check_abort();
    if (!is_open()) throw bug_check();
}

// ---- directory_enumerator ----

struct directory_enumerator::state {
    HANDLE find = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW data{};
};

directory_enumerator::directory_enumerator() : state_(std::make_unique<state>()) {}

directory_enumerator::~directory_enumerator() { close(); }

bool directory_enumerator::open(const std::string& directory) {
    close();
    // A folder named "..." or ". " may be read as "." or ".." by Windows.
    if (has_dots_only_component(directory)) throw file_access_error();
    std::wstring pattern = wide_path(directory);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L"*.*";
    SetLastError(0);
    const HANDLE find = FindFirstFileW(pattern.c_str(), &state_->data);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) return false;  // an empty directory
        throw_file_error(code);
    }
    state_->find = find;
    if (is_dots_only(state_->data.cFileName)) return next();
    current_.name = entry_name(state_->data);
    current_.info = info_from_data(state_->data);
    return true;
}

bool directory_enumerator::next() {
    if (state_->find == INVALID_HANDLE_VALUE) return false;
    for (;;) {
        SetLastError(0);
        // The end of the listing and any error end it alike.
        if (!FindNextFileW(state_->find, &state_->data)) {
            close();
            return false;
        }
        if (is_dots_only(state_->data.cFileName)) continue;
        current_.name = entry_name(state_->data);
        current_.info = info_from_data(state_->data);
        return true;
    }
}

void directory_enumerator::close() {
    if (state_->find != INVALID_HANDLE_VALUE) {
        FindClose(state_->find);
        state_->find = INVALID_HANDLE_VALUE;
    }
}

// ---- path functions ----

file_info get_file_info(const std::string& path) {
    const std::wstring wide = disk_path(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    SetLastError(0);
    if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) throw file_not_found();
        throw_file_error(code);
    }
    return info_from_data(data);
}

void delete_file_path(const std::string& path) {
    const std::wstring wide = disk_path(path);
    SetLastError(0);
    if (!DeleteFileW(wide.c_str())) throw_last_file_error();
}

void remove_directory_path(const std::string& path) {
    const std::wstring wide = disk_path(path);
    SetLastError(0);
    if (!RemoveDirectoryW(wide.c_str())) throw_last_file_error();
}

void create_directory_path(const std::string& path) {
    const std::wstring wide = disk_path(path);
    SetLastError(0);
    if (CreateDirectoryW(wide.c_str(), nullptr)) return;
    const DWORD code = GetLastError();
    // An existing directory or file of that name is no error.
    if (code == ERROR_ALREADY_EXISTS) return;
    throw_file_error(code);
}

void move_path(const std::string& from, const std::string& to) {
    const std::wstring source = disk_path(from);
    const std::wstring target = disk_path(to);
    SetLastError(0);
    if (!MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
        throw_last_file_error();
}

}  // namespace ZT
