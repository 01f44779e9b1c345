// How an existing file is replaced on Windows. CreateFileW with CREATE_ALWAYS
// refuses, with access denied, to replace a file that has the hidden or system
// attribute unless the call asks for the same ones, so a second upload of such
// a file would fail. The rule only computes, with the Windows attribute values;
// on POSIX nothing asks it.
#pragma once

#include <cstdint>

namespace ZT {

// The attributes to ask for on a second try at replacing a file whose
// attributes are `existing` (0xFFFFFFFF when they could not be read), after a
// try with none was refused: its hidden and system attributes, so that it keeps
// them. 0 when a second try cannot succeed either: no such file, a folder, a
// read-only file, or neither attribute.
std::uint32_t attributes_for_replacing(std::uint32_t existing);

}  // namespace ZT
