#include "ftp/login_dialogues.h"
#include "ftp/login_failures.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace ZT {
namespace {

constexpr std::uint32_t A = 0x7F000001, B = 0x7F000002, C = 0x7F000003, D = 0x7F000004;
constexpr std::uint64_t minute = 60 * 1000;
constexpr double none = -1;  // standing: the address holds no failure

// One step on a table: 'f' counts a failure and expects its pause, 's' expects
// the pause one more failure would earn (or none), 'c' clears the address.
struct step {
    char action;
    std::uint32_t address;
    std::uint64_t at;
    double expected = 0;
};

struct failures_case {
    std::string name;
    std::size_t capacity;
    std::vector<step> steps;
};

TEST(login_failures, table_of_counts_windows_bound_and_clearing) {
    const std::vector<failures_case> cases = {
        {"three free, then five seconds more each", 4096,
         {{'s', A, 0, none}, {'f', A, 0, 0}, {'f', A, 1, 0}, {'s', A, 1, 0}, {'f', A, 2, 0},
          {'s', A, 2, 5}, {'f', A, 3, 5}, {'f', A, 4, 10}, {'f', A, 5, 15}, {'f', B, 6, 0}, {'s', B, 6, 0}}},
        {"the window runs ten minutes from the first failure", 4096,
         {{'f', A, 0, 0}, {'f', A, 5 * minute, 0}, {'f', A, 10 * minute - 1, 0}, {'s', A, 10 * minute - 1, 5},
          {'s', A, 10 * minute, none}, {'f', A, 10 * minute, 0}, {'f', A, 11 * minute, 0},
          {'f', A, 12 * minute, 0}, {'f', A, 13 * minute, 5}}},
        {"a login that succeeds forgets the address alone", 4096,
         {{'f', A, 0, 0}, {'f', A, 0, 0}, {'f', A, 0, 0}, {'f', A, 0, 5}, {'f', B, 0, 0}, {'c', A, 1},
          {'s', A, 1, none}, {'f', A, 1, 0}, {'s', B, 1, 0}}},
        {"the bound drops the address whose window began first", 2,
         {{'f', A, 0, 0}, {'f', B, 1, 0}, {'f', A, 2, 0}, {'f', C, 3, 0}, {'s', A, 3, none},
          {'s', B, 3, 0}, {'f', D, 4, 0}, {'s', B, 4, none}, {'s', C, 4, 0}}},
    };
    for (const failures_case& c : cases) {
        login_failures table(login_failure_rules{3, 10 * minute, 5.0, c.capacity});
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const step& s = c.steps[i];
            SCOPED_TRACE(c.name + ", step " + std::to_string(i));
            if (s.action == 'f') {
                EXPECT_EQ(table.add_failure(s.address, s.at), s.expected);
            } else if (s.action == 's') {
                const std::optional<double> standing = table.standing(s.address, s.at);
                EXPECT_EQ(standing.value_or(none), s.expected);
            } else {
                table.clear(s.address);
            }
            EXPECT_LE(table.size(), c.capacity);
        }
    }
}

struct choice_case {
    std::string name;
    std::vector<dialogue_view> dialogues;
    std::ptrdiff_t expected;
};

TEST(login_dialogues, table_of_the_dialogue_to_end) {
    constexpr std::uint64_t now = 100000;
    const std::vector<choice_case> cases = {
        {"none running", {}, -1},
        {"all younger than two seconds", {{A, now - 1999}, {A, now - 10}, {B, now}}, -1},
        {"two seconds exactly qualify", {{A, now - 1999}, {B, now - 2000}}, 1},
        {"the address with the most, not the oldest dialogue",
         {{A, now - 90000}, {B, now - 3000}, {B, now - 5000}, {B, now - 4000}}, 2},
        {"young dialogues do not count towards the most",
         {{A, now - 9000}, {A, now - 8000}, {B, now - 3000}, {B, now - 100}, {B, now - 200}, {B, now - 300}}, 0},
        {"between equal addresses the longest-running dialogue",
         {{A, now - 3000}, {B, now - 7000}, {A, now - 4000}, {B, now - 2500}}, 1},
    };
    for (const choice_case& c : cases) {
        EXPECT_EQ(dialogue_to_end(c.dialogues, now), c.expected) << c.name;
    }
}

TEST(login_dialogues, end_one_ends_each_listed_dialogue_once) {
    login_dialogues registry;
    event_object first, second, gone;
    const auto a = std::make_unique<login_dialogues::entry>(registry, A, first);
    const auto b = std::make_unique<login_dialogues::entry>(registry, A, second);
    { const login_dialogues::entry left(registry, B, gone); }

    const std::uint64_t later = tick_count_ms() + 10000;
    EXPECT_FALSE(registry.end_one(tick_count_ms()));  // nobody has waited two seconds
    EXPECT_TRUE(registry.end_one(later));
    EXPECT_TRUE(registry.end_one(later));
    EXPECT_FALSE(registry.end_one(later));
    EXPECT_TRUE(first.is_set());
    EXPECT_TRUE(second.is_set());
    EXPECT_FALSE(gone.is_set());
}

}  // namespace
}  // namespace ZT
