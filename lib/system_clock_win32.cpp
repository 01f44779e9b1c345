#include "lib/system_clock.h"

#include <windows.h>

namespace ZT {

std::uint64_t current_file_time() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

}  // namespace ZT
