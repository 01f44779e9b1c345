#include "lib/allocator.h"

namespace ZT {

// Nothing to set: the Windows heap offers no such thresholds.
void keep_freed_blocks_for_reuse() {}

}  // namespace ZT
