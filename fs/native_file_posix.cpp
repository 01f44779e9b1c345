#include "fs/native_file.h"

#include "fs/native_file_common.h"
#include "lib/abort.h"
#include "lib/errors.h"

#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ZT {

namespace {

// Pieces of a copy when a move crosses file systems.
constexpr std::size_t copy_piece_bytes = 128 * 1024;

// The path for a system call. A zero byte inside would silently cut the path
// short and name another file, so such a path is refused as an invalid name.
const char* c_path(const std::string& path) {
    if (path.find('\0') != std::string::npos) throw file_access_error();
    return path.c_str();
}

// Seconds and nanoseconds since 1970 as a Windows file time.
std::uint64_t to_file_time(const timespec& t) {
    constexpr std::uint64_t seconds_1601_to_1970 = 11644473600ULL;
    // Times before 1970 are negative here but still valid file times; only
    // those before 1601 have no file time.
    if (t.tv_sec < -static_cast<std::int64_t>(seconds_1601_to_1970)) return 0;
    return static_cast<std::uint64_t>(t.tv_sec + static_cast<std::int64_t>(seconds_1601_to_1970)) * 10000000ULL +
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

bool same_entry(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Closes a descriptor on every way out of a scope.
class fd_guard {
public:
    explicit fd_guard(int fd) : fd_(fd) {}
    ~fd_guard() {
        if (fd_ >= 0) ::close(fd_);
    }
    fd_guard(const fd_guard&) = delete;
    fd_guard& operator=(const fd_guard&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

void write_all(int fd, const char* data, std::size_t count) {
    while (count > 0) {
        clear_last_file_error();
        const ssize_t put = ::write(fd, data, count);
        if (put < 0) {
            if (errno == EINTR) continue;
            throw_last_file_error();
        }
        if (put == 0) throw file_access_error();
        data += put;
        count -= static_cast<std::size_t>(put);
    }
}

// A move of a file to another file system: the data are copied into a
// temporary file beside the target, which then replaces the target in one
// rename, and only then is the source removed. A failure on the way leaves the
// source and any old target as they were; a source that cannot be removed at
// the end is reported, with the copy in place, so no data are lost either way.
void move_file_by_copy(const std::string& from, const std::string& to, const struct stat& source_stat) {
    native_file source;
    source.open(from, file_mode::generic_read, file_mode::open_existing);

    const std::string::size_type slash = to.rfind('/');
    std::string temp = (slash == std::string::npos ? std::string() : to.substr(0, slash + 1)) +
                       ".tarvex-move-XXXXXX";
    clear_last_file_error();
    const int temp_fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (temp_fd < 0) throw_last_file_error();
    try {
        fd_guard target(temp_fd);
        std::vector<char> buffer(copy_piece_bytes);
        for (;;) {
            const std::size_t got = source.read(buffer.data(), buffer.size());
            write_all(target.get(), buffer.data(), got);
            if (got < buffer.size()) break;
        }
        // Keep the permission bits and times, as a copying move does on Windows.
        ::fchmod(target.get(), source_stat.st_mode & 07777);
        const timespec times[2] = {source_stat.st_atim, source_stat.st_mtim};
        ::futimens(target.get(), times);
        clear_last_file_error();
        if (::fsync(target.get()) != 0) throw_last_file_error();
        clear_last_file_error();
        if (::rename(temp.c_str(), to.c_str()) != 0) throw_last_file_error();
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
    source.close();
    clear_last_file_error();
    if (::unlink(from.c_str()) != 0) throw_last_file_error();
}

}  // namespace

// ---- native_file ----

native_file::native_file() : handle_(-1) {}

void native_file::open(const std::string& path, std::uint32_t access, std::uint32_t disposition) {
    close();
    int flags = O_CLOEXEC | O_NONBLOCK;
    if (access == file_mode::generic_read && disposition == file_mode::open_existing) {
        flags |= O_RDONLY;
    } else if (access == file_mode::generic_read_write && disposition == file_mode::open_existing) {
        flags |= O_RDWR;
    } else if (access == file_mode::append_data && disposition == file_mode::open_existing) {
        flags |= O_WRONLY | O_APPEND;
    } else if (access == file_mode::generic_read_write && disposition == file_mode::create_always) {
        flags |= O_RDWR | O_CREAT | O_TRUNC;
    } else {
        throw bug_check();
    }
    clear_last_file_error();
    const int fd = ::open(c_path(path), flags, 0666);
    if (fd < 0) throw_last_file_error();
    fd_guard guard(fd);

    // Only regular files are opened, as on Windows, where a directory cannot be
    // opened as a file. O_NONBLOCK above keeps a FIFO from blocking the open; a
    // regular file's reads and writes ignore it, so it may stay.
    struct stat st {};
    clear_last_file_error();
    if (::fstat(fd, &st) != 0) throw_last_file_error();
    if (!S_ISREG(st.st_mode)) throw file_access_error();

    handle_ = guard.release();
}

void native_file::close() {
    if (handle_ < 0) return;
    // The descriptor is released whatever the answer (Linux frees it even when
    // interrupted), so it is never closed a second time.
    const int fd = static_cast<int>(std::exchange(handle_, -1));
    bool closed = ::close(fd) == 0;
    if (close_made_to_fail()) closed = false;
    if (!closed) throw file_access_error();
}

bool native_file::is_open() const { return handle_ >= 0; }

std::size_t native_file::read(void* buffer, std::size_t count) {
    char* out = static_cast<char*>(buffer);
    // A read of nothing is the end of the file.
    return move_in_pieces(count, [&](std::size_t done, std::size_t piece) -> std::ptrdiff_t {
        clear_last_file_error();
        const ssize_t got = ::read(static_cast<int>(handle_), out + done, piece);
        if (got < 0 && errno != EINTR) throw_last_file_error();
        return got;
    });
}

void native_file::write(const void* buffer, std::size_t count) {
    const char* in = static_cast<const char*>(buffer);
    const std::size_t written = move_in_pieces(count, [&](std::size_t done, std::size_t piece) -> std::ptrdiff_t {
        clear_last_file_error();
        const ssize_t put = ::write(static_cast<int>(handle_), in + done, piece);
        if (put < 0 && errno != EINTR) throw_last_file_error();
        return put;
    });
    // A write that took nothing would never end.
    if (written < count) throw file_access_error();
}

void native_file::seek(std::uint64_t position) {
    check_open();
    clear_last_file_error();
    // A position past the signed range becomes negative and fails, as on Windows.
    if (::lseek(static_cast<int>(handle_), static_cast<off_t>(position), SEEK_SET) < 0) throw_last_file_error();
}

std::uint64_t native_file::tell() {
    clear_last_file_error();
    const off_t position = ::lseek(static_cast<int>(handle_), 0, SEEK_CUR);
    if (position < 0) throw_last_file_error();
    return static_cast<std::uint64_t>(position);
}

std::uint64_t native_file::size() {
    check_open();
    struct stat st {};
    clear_last_file_error();
    if (::fstat(static_cast<int>(handle_), &st) != 0) throw_last_file_error();
    return static_cast<std::uint64_t>(st.st_size);
}

void native_file::set_end_of_file(std::uint64_t position) {
    const std::uint64_t kept = tell();
    seek(position);
    clear_last_file_error();
    const bool cut = ::ftruncate(static_cast<int>(handle_), static_cast<off_t>(position)) == 0;
    const std::uint32_t code = cut ? 0 : last_file_error_code();
    seek(kept);
    if (!cut) throw_file_error(code);
}

void native_file::check_open() {
    check_abort();
    if (handle_ < 0) throw bug_check();
}

// ---- directory_enumerator ----

struct directory_enumerator::state {
    DIR* dir = nullptr;
};

directory_enumerator::directory_enumerator() : state_(std::make_unique<state>()) {}

directory_enumerator::~directory_enumerator() { close(); }

bool directory_enumerator::open(const std::string& directory) {
    close();
    clear_last_file_error();
    DIR* dir = ::opendir(directory.empty() ? "." : c_path(directory));
    if (!dir) throw_last_file_error();
    state_->dir = dir;
    return next();
}

bool directory_enumerator::next() {
    if (!state_->dir) return false;
    for (;;) {
        // A read error ends the listing like its end does.
        const dirent* entry = ::readdir(state_->dir);
        if (!entry) {
            close();
            return false;
        }
        if (is_dots_only(entry->d_name)) continue;
        // Links are followed; an entry that cannot be examined (a dangling
        // link, one removed meanwhile) is left out.
        struct stat st {};
        if (::fstatat(::dirfd(state_->dir), entry->d_name, &st, 0) != 0) continue;
        current_.name = entry->d_name;
        current_.info = info_from_stat(st, entry->d_name[0] == '.');
        return true;
    }
}

void directory_enumerator::close() {
    if (state_->dir) {
        ::closedir(state_->dir);
        state_->dir = nullptr;
    }
}

// ---- path functions ----

file_info get_file_info(const std::string& path) {
    struct stat st {};
    clear_last_file_error();
    if (::stat(c_path(path), &st) != 0) throw_last_file_error();
    return info_from_stat(st, has_hidden_name(path));
}

void delete_file_path(const std::string& path) {
    clear_last_file_error();
    // unlink of a directory fails with EISDIR (or EPERM): an access error.
    if (::unlink(c_path(path)) != 0) throw_last_file_error();
}

void remove_directory_path(const std::string& path) {
    clear_last_file_error();
    if (::rmdir(c_path(path)) == 0) return;
    const int error = errno;
    // Some file systems report a non-empty directory as EEXIST.
    if (error == EEXIST || error == ENOTEMPTY) throw directory_not_empty();
    // The path names a file rather than a directory: refused, not missing.
    struct stat st {};
    if (error == ENOTDIR && ::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) throw file_access_error();
    errno = error;
    throw_last_file_error();
}

void create_directory_path(const std::string& path) {
    clear_last_file_error();
    if (::mkdir(c_path(path), 0777) == 0) return;
    // An existing directory or file of that name is no error.
    if (errno == EEXIST) return;
    throw_last_file_error();
}

void move_path(const std::string& from, const std::string& to) {
    const char* source = c_path(from);
    const char* target = c_path(to);
    struct stat source_stat {};
    clear_last_file_error();
    if (::lstat(source, &source_stat) != 0) throw_last_file_error();
    const bool is_dir = S_ISDIR(source_stat.st_mode);
    // Only a file replaces an existing target; a directory never replaces
    // anything (rename would quietly replace an empty directory).
    struct stat target_stat {};
    if (is_dir && ::lstat(target, &target_stat) == 0 && !same_entry(source_stat, target_stat))
        throw file_access_error();
    clear_last_file_error();
    if (::rename(source, target) == 0) return;
    if (errno != EXDEV) throw_last_file_error();
    // A directory is not moved across file systems.
    if (is_dir) throw file_access_error();
    move_file_by_copy(from, to, source_stat);
}

}  // namespace ZT
