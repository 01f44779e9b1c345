#include "lib/tls_socket.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ZT {
namespace {

// Records as a peer sends them: header (type, version, 16-bit length), body.
std::string record(std::size_t length) {
    std::string bytes = {'\x17', '\x03', '\x03', static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)};
    return bytes + std::string(length, 'x');
}

TEST(tls_record_tracker, an_end_of_data_is_clean_only_between_records) {
    const std::string two = record(300) + record(0) + record(16401);
    struct row {
        std::string bytes;
        std::vector<std::size_t> pieces;  // sizes of the reads that deliver them
        bool between;
    };
    const row rows[] = {
        {"", {}, true},
        {two, {two.size()}, true},
        {two, {1, 2, 3, 4, 5, 300, 16000}, true},  // the rest in one last piece
        {two.substr(0, 3), {3}, false},             // inside a header
        {two.substr(0, 5), {5}, false},             // header without its body
        {two.substr(0, 305 + 5), {200, 110}, true}, // the empty record ends at its header
        {two.substr(0, two.size() - 1), {two.size() - 1}, false},
        {record(65535), {70000}, true},
    };
    for (const row& r : rows) {
        tls_record_tracker tracker;
        std::size_t at = 0;
        for (const std::size_t piece : r.pieces) {
            const std::size_t size = std::min(piece, r.bytes.size() - at);
            tracker.feed(r.bytes.data() + at, size);
            at += size;
        }
        tracker.feed(r.bytes.data() + at, r.bytes.size() - at);
        EXPECT_EQ(tracker.between_records(), r.between) << r.bytes.size() << " bytes";
    }
}

}  // namespace
}  // namespace ZT
