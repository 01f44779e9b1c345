#include "fs/native_file_common.h"

#include "lib/errors.h"
#include "lib/event.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace ZT {
namespace {

constexpr std::size_t most = max_io_bytes;

using call_list = std::vector<std::pair<std::size_t, std::size_t>>;  // (done, piece) of each call

struct pieces_case {
    const char* name;
    std::size_t count;
    std::vector<std::ptrdiff_t> answers;  // what each call returns, in turn
    call_list calls;
    std::size_t moved;
};

const pieces_case pieces_cases[] = {
    {"nothing to move", 0, {}, {}, 0},
    {"one call moves everything", 10, {10}, {{0, 10}}, 10},
    {"a short call is followed by the rest", 10, {4, 6}, {{0, 10}, {4, 6}}, 10},
    {"a call that moves nothing stops", 10, {4, 0}, {{0, 10}, {4, 6}}, 4},
    {"an interrupted call is tried again", 10, {-1, 10}, {{0, 10}, {0, 10}}, 10},
    {"no call asks for more than the limit", 2 * most + 5, {most, most, 5},
     {{0, most}, {most, most}, {2 * most, 5}}, 2 * most + 5},
};

TEST(native_file_common, moves_in_pieces_of_at_most_the_limit) {
    for (const pieces_case& c : pieces_cases) {
        SCOPED_TRACE(c.name);
        call_list calls;
        const std::size_t moved = move_in_pieces(c.count, [&](std::size_t done, std::size_t piece) -> std::ptrdiff_t {
            calls.emplace_back(done, piece);
            return calls.size() <= c.answers.size() ? c.answers[calls.size() - 1] : 0;
        });
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(moved, c.moved);
    }
}

TEST(native_file_common, an_aborted_thread_makes_no_further_call) {
    event_object abort_event;
    abort_event_scope scope(&abort_event);
    int calls = 0;
    const auto interrupted = [&](std::size_t, std::size_t) -> std::ptrdiff_t {
        ++calls;
        abort_event.set();
        return -1;  // would be tried again
    };
    // Checked before the first call...
    abort_event.set();
    EXPECT_THROW(move_in_pieces(10, interrupted), user_abort);
    EXPECT_EQ(calls, 0);
    // ...and before every further one.
    abort_event.reset();
    EXPECT_THROW(move_in_pieces(10, interrupted), user_abort);
    EXPECT_EQ(calls, 1);
}

TEST(native_file_common, names_made_only_of_full_stops) {
    const struct {
        const char* name;
        bool dots_only;
    } cases[] = {
        {".", true}, {"..", true}, {"...", true}, {"", true},
        {".a", false}, {"a.", false}, {". ", false}, {".hidden", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_dots_only(c.name), c.dots_only) << c.name;
        const std::wstring wide(c.name, c.name + std::char_traits<char>::length(c.name));
        EXPECT_EQ(is_dots_only(wide.c_str()), c.dots_only) << c.name;
    }
}

}  // namespace
}  // namespace ZT
