// How the C library's allocator keeps memory between uses, set once at start.
#pragma once

namespace ZT {

// Keeps freed blocks of up to a few MiB (a listing's text of tens of thousands
// of lines, a transfer's buffer) in the allocator's pools for the next use,
// instead of mapping them afresh and returning them at each use: a block
// mapped afresh costs a page fault for every page it touches, and a listing
// of 10,000 entries then spends as long in faults as in its own work.
void keep_freed_blocks_for_reuse();

}  // namespace ZT
