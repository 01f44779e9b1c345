// The wall clock as a Windows file time (100 ns units since 1601-01-01, UTC), the
// form in which every file time of the server is held.
#pragma once

#include <cstdint>

namespace ZT {

// The current time in UTC. Never throws.
std::uint64_t current_file_time();

}  // namespace ZT
