// A replacement of the global operator new that can be told to fail, so that
// tests reach the paths where the system has no memory left. Only the test
// program that links failing_allocator.cpp has it.
#pragma once

namespace ZT::test {

// From now on every allocation on the calling thread fails with std::bad_alloc
// once `successes` more have succeeded, each failure after a pause of 20 ms; a
// negative count ends the failures.
void fail_allocations_here_after(long successes);

// While on, every allocation fails on every thread except the one that turned
// it on.
void fail_allocations_on_other_threads(bool on);

}  // namespace ZT::test
