// The only place where the server touches the file system: a file class that is
// a readable and writable stream, a directory enumerator, an attribute query and
// single calls for delete, remove-directory, create-directory and rename. Paths
// arrive as UTF-8. Failures are the file exceptions of lib/errors.h.
#pragma once

#include "lib/stream.h"

#include <cstdint>
#include <memory>
#include <string>

namespace ZT {

// Attributes of one file or directory. Times are Windows file times (100 ns
// units since 1601-01-01, UTC) on both platforms; 0 means unknown.
struct file_info {
    bool is_directory = false;
    bool is_hidden = false;
    std::uint64_t size = 0;
    std::uint64_t last_access_time = 0;
    std::uint64_t last_write_time = 0;
    std::uint64_t creation_time = 0;
};

// Access and creation values, with the Windows constants' values.
namespace file_mode {
constexpr std::uint32_t generic_read = 0x80000000;
constexpr std::uint32_t generic_read_write = 0xC0000000;
// Append data only (FILE_APPEND_DATA without write access): every write goes to
// the end of the file as it is at that moment, whoever else writes to it.
constexpr std::uint32_t append_data = 0x00000004;
constexpr std::uint32_t create_always = 2;
constexpr std::uint32_t open_existing = 3;
}  // namespace file_mode

// A file opened for reading, or for reading and writing, shared for read and
// write with other openers. Reads and writes check the thread's abort event
// before every system call.
class native_file : public readable_stream, public writable_stream {
public:
    native_file();
    // Closes quietly: a failure of that close is lost, so a writer that must
    // know whether its data arrived calls close() itself.
    ~native_file() override;
    native_file(const native_file&) = delete;
    native_file& operator=(const native_file&) = delete;

    // Closes any file held (a failed close throws as close() does), then opens
    // `path` with one of the file_mode pairs.
    void open(const std::string& path, std::uint32_t access, std::uint32_t disposition);
    // Closes the file when one is open; the handle is gone afterwards either
    // way. A failure the system reports here (a write it had deferred to the
    // close: a full disk, a quota, a network file system) throws
    // file_access_error.
    void close();
    bool is_open() const;

    std::size_t read(void* buffer, std::size_t count) override;
    void write(const void* buffer, std::size_t count) override;

    virtual void seek(std::uint64_t position);
    virtual std::uint64_t tell();
    virtual std::uint64_t size();
    // Cuts (or extends) the file at `position`; the current position is kept.
    virtual void set_end_of_file(std::uint64_t position);
    // The system's handle (a descriptor on POSIX), for direct transfers.
    std::intptr_t native_handle() const { return handle_; }

private:
    void check_open();
    std::intptr_t handle_;
};

// For tests: the next `count` closes of a file on the calling thread release
// the handle and then fail as a close that reports a deferred write error does.
// Not for production use.
void fail_file_closes_for_tests(int count);

// One entry of a directory listing.
struct found_entry {
    std::string name;  // UTF-8
    file_info info;
};

// Enumerates a directory's entries in the system's order, skipping names made
// only of full stops ("." and ".." among them).
class directory_enumerator {
public:
    directory_enumerator();
    ~directory_enumerator();
    directory_enumerator(const directory_enumerator&) = delete;
    directory_enumerator& operator=(const directory_enumerator&) = delete;

    // True when a first entry is available. A missing directory throws
    // file_not_found; an existing empty one answers false.
    bool open(const std::string& directory);
    // True when another entry is available; errors simply end the listing.
    bool next();
    const found_entry& current() const { return current_; }
    void close();

private:
    struct state;
    std::unique_ptr<state> state_;
    found_entry current_;
};

file_info get_file_info(const std::string& path);
// False for a missing path; other failures (access errors) throw.
bool is_file(const std::string& path);
bool is_directory_path(const std::string& path);
void delete_file_path(const std::string& path);
void remove_directory_path(const std::string& path);
// An existing directory or file of that name is no error.
void create_directory_path(const std::string& path);
// Replaces an existing target file; moves across volumes by copying.
void move_path(const std::string& from, const std::string& to);

}  // namespace ZT
