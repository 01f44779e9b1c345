#include "lib/stream.h"

#include "lib/errors.h"

#include <algorithm>

namespace ZT {

void readable_stream::read_exact(void* buffer, std::size_t count) {
    if (read(buffer, count) != count) throw invalid_input();
}

std::uint64_t readable_stream::skip(std::uint64_t count) {
    char scratch[256];
    std::uint64_t skipped = 0;
    while (skipped < count) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(count - skipped, sizeof scratch));
        const std::size_t got = read(scratch, want);
        skipped += got;
        if (got < want) break;
    }
    return skipped;
}

void readable_stream::skip_exact(std::uint64_t count) {
    if (skip(count) != count) throw invalid_input();
}

}  // namespace ZT
