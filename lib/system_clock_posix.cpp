#include "lib/system_clock.h"

#include <ctime>

namespace ZT {

std::uint64_t current_file_time() {
    constexpr std::uint64_t seconds_1601_to_1970 = 11644473600ULL;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    if (now.tv_sec < 0) return 0;
    return (static_cast<std::uint64_t>(now.tv_sec) + seconds_1601_to_1970) * 10000000ULL +
           static_cast<std::uint64_t>(now.tv_nsec) / 100;
}

}  // namespace ZT
