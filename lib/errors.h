// The library's exception family. Every failure in the server travels as one of
// these (or as std::runtime_error with a fixed message where nobody tells it apart).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ZT {

#define ZT_DECLARE_ERROR(name, base, text)                                  \
    class name : public base {                                              \
    public:                                                                 \
        static const char* default_message() { return text; }               \
        name() : base(default_message()) {}                                 \
        explicit name(const std::string& message) : base(message) {}        \
    };

ZT_DECLARE_ERROR(bug_check, std::runtime_error, "bug check")
ZT_DECLARE_ERROR(denied, std::runtime_error, "denied")
ZT_DECLARE_ERROR(overflow, std::overflow_error, "overflow")
ZT_DECLARE_ERROR(invalid_input, std::runtime_error, "invalid input")
ZT_DECLARE_ERROR(user_abort, std::runtime_error, "user abort")
ZT_DECLARE_ERROR(network_error, std::runtime_error, "network error")
ZT_DECLARE_ERROR(network_error_connect, network_error, "could not connect")
ZT_DECLARE_ERROR(network_error_timeout, network_error, "network timeout")
ZT_DECLARE_ERROR(file_access_error, std::runtime_error, "file access error")
ZT_DECLARE_ERROR(file_not_found, file_access_error, "file not found")
ZT_DECLARE_ERROR(directory_not_empty, file_access_error, "directory not empty")
ZT_DECLARE_ERROR(file_already_exists, file_access_error, "file already exists")

#undef ZT_DECLARE_ERROR

// Windows error codes that decide which file exception is thrown. The POSIX build
// maps errno values onto these same codes, so both platforms share one table.
namespace win_error {
constexpr std::uint32_t file_not_found = 2;
constexpr std::uint32_t path_not_found = 3;
constexpr std::uint32_t access_denied = 5;
constexpr std::uint32_t file_exists = 80;
constexpr std::uint32_t dir_not_empty = 145;
constexpr std::uint32_t already_exists = 183;
}  // namespace win_error

// Throws the file exception that a Windows error code maps to. Never returns.
[[noreturn]] void throw_file_error(std::uint32_t code);

// Reads the calling thread's last system error (GetLastError, errno) and throws
// the matching file exception. Never returns.
[[noreturn]] void throw_last_file_error();

// The calling thread's last system error as a Windows error code.
std::uint32_t last_file_error_code();

// Clears the thread's last system error before a file call.
void clear_last_file_error();

}  // namespace ZT
