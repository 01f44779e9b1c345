// The memory of listing texts, kept between listings. A listing of many
// thousands of entries builds a text of a megabyte or so; made afresh each
// time it costs a page fault for every page it fills, and given back on
// whichever thread served the session, the allocator's pools of many threads
// each end up keeping a block of that size. Here a few such blocks serve every
// session in turn, so that the memory a listing takes stays bounded and warm.
//
// Threads: any session's worker may take and give back at any time; a lock
// guards the few blocks kept.
#pragma once

#include <string>

namespace ZT {

// An empty text with the room of one kept block, or an empty new one.
std::string take_listing_buffer();
// Keeps the text's memory for a later listing when it is large enough to be
// worth keeping and not too large to hold on to; otherwise lets it go.
void give_back_listing_buffer(std::string&& text);

}  // namespace ZT
