#include "oom/failing_allocator.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <thread>

namespace ZT::test {
namespace {

thread_local long successes_left = -1;  // negative: never fail
std::atomic<bool> others_fail{false};
std::atomic<std::thread::id> spared_thread{};

bool must_fail() {
    if (others_fail.load() && std::this_thread::get_id() != spared_thread.load()) return true;
    if (successes_left < 0) return false;
    if (successes_left == 0) {
        // A failure comes late, as it does when the system struggles for
        // memory: other threads get time to run into whatever the failing
        // thread holds.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return true;
    }
    --successes_left;
    return false;
}

}  // namespace

void fail_allocations_here_after(long successes) { successes_left = successes; }

void fail_allocations_on_other_threads(bool on) {
    spared_thread = std::this_thread::get_id();
    others_fail = on;
}

}  // namespace ZT::test

// The other forms (nothrow, sized and array deletes) of the standard library
// come back to these two.
void* operator new(std::size_t size) {
    if (ZT::test::must_fail()) throw std::bad_alloc();
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }

void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
