// What every part of the benchmark client shares: its clock and the bounds
// on its loops and buffers.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace ftpbench {

using clock_type = std::chrono::steady_clock;

inline double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

inline clock_type::time_point seconds_after(clock_type::time_point start, double seconds) {
    return start + std::chrono::duration_cast<clock_type::duration>(std::chrono::duration<double>(seconds));
}

// Upper bounds on counts, beside the time limits: no loop runs forever even
// when the server answers faster than anyone expects.
constexpr std::uint64_t max_operations_per_session = 10'000'000;
constexpr std::size_t big_buffer_size = 1 << 20;    // downloads, uploads, listings
constexpr std::size_t small_buffer_size = 256 << 10;  // one buffer per small-transfer session
constexpr std::size_t max_reply_line = 64 << 10;

}  // namespace ftpbench
