#include "lib/allocator.h"

#include <malloc.h>

namespace ZT {

void keep_freed_blocks_for_reuse() {
    // glibc maps blocks from 128 KiB up on their own, and gives the pools' free
    // tops back above 128 KiB, until it has seen such blocks freed; these are
    // within the range it would adapt to itself, fixed from the start.
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    mallopt(M_TRIM_THRESHOLD, 8 << 20);
}

}  // namespace ZT
