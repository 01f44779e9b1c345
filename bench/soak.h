// The soak: rounds of workloads for minutes, the server's memory,
// descriptors and threads after each minute, and the verdict on their growth.
#pragma once

#include "workloads.h"

#include <string>
#include <vector>

namespace ftpbench {

// Rounds of workloads for o.soak_minutes minutes. The first round warms the
// server up (its worker pool grows to the most sessions at once, the
// allocator's arenas fill) and is followed by the reading of minute 0; then
// the round that ends each minute is followed by that minute's reading, with
// the median rates of its rounds. Every reading is taken at the same point of
// a round, with the server settled, so that two of them compare. The verdict
// compares the last reading with minute 0's. Returns the exit code.
int run_soak(const bench_context& b, const std::vector<std::string>& chosen);

}  // namespace ftpbench
