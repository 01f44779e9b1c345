#include "ftp/listing_buffers.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace ZT {

namespace {

// As many blocks as listings that commonly run at once.
constexpr std::size_t blocks_kept = 2;
// Texts below this are cheap to make afresh; above the upper bound (a folder of
// some hundred thousand entries) the memory goes back to the system.
constexpr std::size_t smallest_kept = 64 * 1024;
constexpr std::size_t largest_kept = 16 * 1024 * 1024;

struct kept_blocks {
    std::mutex lock;
    std::vector<std::string> blocks;  // at most blocks_kept, reserved up front
    kept_blocks() { blocks.reserve(blocks_kept); }
};

kept_blocks& kept() {
    static kept_blocks instance;
    return instance;
}

}  // namespace

std::string take_listing_buffer() {
    kept_blocks& k = kept();
    std::lock_guard<std::mutex> guard(k.lock);
    if (k.blocks.empty()) return {};
    std::string text = std::move(k.blocks.back());
    k.blocks.pop_back();
    text.clear();
    return text;
}

void give_back_listing_buffer(std::string&& text) {
    const std::size_t room = text.capacity();
    if (room < smallest_kept || room > largest_kept) return;
    kept_blocks& k = kept();
    std::lock_guard<std::mutex> guard(k.lock);
    if (k.blocks.size() < blocks_kept) {
        k.blocks.push_back(std::move(text));
        return;
    }
    // Full: the larger block stays.
    const auto smallest = std::min_element(k.blocks.begin(), k.blocks.end(), [](const auto& a, const auto& b) {
        return a.capacity() < b.capacity();
    });
    if (smallest->capacity() < room) std::swap(*smallest, text);
}

}  // namespace ZT
