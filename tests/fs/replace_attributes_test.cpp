#include "fs/replace_attributes.h"

#include <gtest/gtest.h>

namespace ZT {
namespace {

TEST(replace_attributes, a_hidden_or_system_file_is_asked_for_with_its_own) {
    // Normal, archive, hidden, system, hidden + system + not indexed, read-only + hidden, hidden folder, unknown.
    const std::uint32_t rows[][2] = {{0x80, 0},   {0x20, 0}, {0x22, 0x2}, {0x24, 0x4}, {0x2026, 0x6},
                                     {0x23, 0},   {0x12, 0}, {0xFFFFFFFF, 0}};
    for (const auto& [existing, asked] : rows) EXPECT_EQ(attributes_for_replacing(existing), asked) << existing;
}

}  // namespace
}  // namespace ZT
