// What the two native_file implementations share: how reads and writes are cut
// into system calls, the rule for the names a listing leaves out, and the closes
// that tests make fail. Only the native_file implementation and its tests
// include this.
#pragma once

#include "lib/abort.h"

#include <algorithm>
#include <cstddef>

namespace ZT {

// One system read or write moves at most this much.
constexpr std::size_t max_io_bytes = 0x1000000;

// Moves `count` bytes with one system call after another, each for at most
// max_io_bytes and each after a check of the thread's abort event (user_abort).
// `call(done, piece)` makes one call for `piece` bytes from `done` bytes in and
// returns how many it moved: 0 stops, a negative number (an interrupted call)
// tries again. Returns the bytes moved in all.
template <typename Call>
std::size_t move_in_pieces(std::size_t count, Call call) {
    std::size_t done = 0;
    while (done < count) {
        check_abort();
        const std::ptrdiff_t moved = call(done, std::min(count - done, max_io_bytes));
        if (moved == 0) break;
        if (moved > 0) done += static_cast<std::size_t>(moved);
    }
    return done;
}

// True for ".", ".." and any other name made only of full stops: a listing never
// shows them. Over the system's own characters (char on POSIX, wchar_t on
// Windows), before any conversion.
template <typename Char>
bool is_dots_only(const Char* name) {
    for (; *name; ++name)
        if (*name != Char('.')) return false;
    return true;
}

// Called by every close that has released its handle: true when this close is
// one of those that fail_file_closes_for_tests asked to fail on this thread, and
// then counts it.
bool close_made_to_fail();

}  // namespace ZT
