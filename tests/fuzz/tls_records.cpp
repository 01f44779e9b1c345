// The record framing that tells a clean end of an upload from a cut one. The
// bytes are fed in pieces whose sizes come from the input's first bytes (a
// size of 0 feeds an empty piece, which must change nothing, then 1 byte); the
// answer after each piece must be the one a plain walk over all the bytes so
// far gives (a 5-byte header, then as many bytes as its last two say), so how
// the connection happened to split the stream never changes the verdict.
#include "fuzz_support.h"
#include "lib/tls_socket.h"

#include <algorithm>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ZT;
    if (size < 1) return 0;
    // The first byte says how many of the following bytes give piece sizes.
    const std::size_t size_bytes = std::min<std::size_t>(data[0] % 8, size - 1);
    const std::uint8_t* sizes = data + 1;
    const std::string stream(fuzz::as_text(data + 1 + size_bytes, size - 1 - size_bytes));

    tls_record_tracker tracker;
    std::size_t fed = 0;
    for (std::size_t piece = 0; fed < stream.size(); ++piece) {
        // A piece of 0 bytes is fed too, and must change nothing; then 1.
        std::size_t length = size_bytes == 0 ? stream.size() : sizes[piece % size_bytes];
        if (length == 0) {
            const bool before = tracker.between_records();
            tracker.feed(stream.data() + fed, 0);
            fuzz::check(tracker.between_records() == before, "an empty piece changes nothing");
            length = 1;
        }
        const std::size_t taken = std::min(length, stream.size() - fed);
        tracker.feed(stream.data() + fed, taken);
        fed += taken;

        // Where the records fed so far end.
        std::size_t at = 0;
        while (at + tls_record_tracker::header_size <= fed)
            at += tls_record_tracker::header_size + (static_cast<std::uint8_t>(stream[at + 3]) << 8 |
                                                     static_cast<std::uint8_t>(stream[at + 4]));
        fuzz::check(tracker.between_records() == (at == fed), "the verdict is the walk's over the bytes fed",
                    stream.substr(0, fed));
    }
    return 0;
}
