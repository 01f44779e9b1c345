// Small helpers shared by the unit tests: elapsed time and bounded waiting.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace ZT::test {

using clock_type = std::chrono::steady_clock;

inline double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Polls a condition until it holds or the time is up; true when it held.
inline bool wait_until(const std::function<bool()>& condition, double seconds = 5.0) {
    const auto start = clock_type::now();
    while (!condition()) {
        if (seconds_since(start) > seconds) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace ZT::test
