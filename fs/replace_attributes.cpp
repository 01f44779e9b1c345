#include "fs/replace_attributes.h"

namespace ZT {

namespace {

// The Windows values of the attributes that matter here.
constexpr std::uint32_t read_only = 0x1;
constexpr std::uint32_t hidden = 0x2;
constexpr std::uint32_t system = 0x4;
constexpr std::uint32_t directory = 0x10;
constexpr std::uint32_t unknown = 0xFFFFFFFF;

}  // namespace

std::uint32_t attributes_for_replacing(std::uint32_t existing) {
    if (existing == unknown || (existing & (read_only | directory)) != 0) return 0;
    return existing & (hidden | system);
}

}  // namespace ZT
