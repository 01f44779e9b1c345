// Shared pieces of the libFuzzer targets: the check that turns a broken
// property into a crash that libFuzzer records, and in-memory byte streams for
// the code that reads from a connection.
#pragma once

#include "lib/stream.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace ZT::fuzz {

// Aborts with the failed property and the bytes that showed it; libFuzzer then
// saves the input as a crash file.
[[noreturn]] inline void fail(const char* property, std::string_view detail = {}) {
    std::fprintf(stderr, "\nfuzz property broken: %s\n", property);
    if (!detail.empty()) {
        std::fprintf(stderr, "detail (%zu bytes):", detail.size());
        for (const char c : detail.substr(0, 256)) std::fprintf(stderr, " %02x", static_cast<unsigned char>(c));
        std::fprintf(stderr, "\n");
    }
    std::abort();
}

inline void check(bool holds, const char* property, std::string_view detail = {}) {
    if (!holds) fail(property, detail);
}

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The normal form of a passive port list: every number at most 65535, each
// range in order, ranges neither overlapping nor touching, and no single port
// inside a range.
inline void check_pasv_normal_form(const std::set<std::uint32_t>& ports,
                                   const std::map<std::uint32_t, std::uint32_t>& ranges) {
    const std::map<std::uint32_t, std::uint32_t>::value_type* previous = nullptr;
    for (const auto& range : ranges) {
        check(range.first <= range.second, "a passive range runs upward");
        check(range.second <= 65535, "a passive range stays within 65535");
        if (previous) check(range.first > previous->second + 1, "passive ranges neither overlap nor touch");
        previous = &range;
    }
    for (const std::uint32_t port : ports) {
        check(port <= 65535, "a passive port is at most 65535");
        const auto after = ranges.upper_bound(port);
        check(after == ranges.begin() || port > std::prev(after)->second, "no single passive port lies in a range");
    }
}

// Reads come from a fixed byte string; `position` says how much was consumed.
class memory_input : public readable_stream {
public:
    void reset(std::string_view bytes) {
        bytes_ = bytes;
        position = 0;
    }
    std::size_t read(void* buffer, std::size_t count) override {
        const std::size_t n = std::min(count, bytes_.size() - position);
        if (n != 0) std::memcpy(buffer, bytes_.data() + position, n);
        position += n;
        return n;
    }

    std::size_t position = 0;

private:
    std::string_view bytes_;
};

// Every write is appended to `bytes`.
class memory_output : public writable_stream {
public:
    void write(const void* buffer, std::size_t count) override {
        bytes.append(static_cast<const char*>(buffer), count);
    }

    std::string bytes;
};

}  // namespace ZT::fuzz
