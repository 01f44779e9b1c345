// New globally unique identifiers, as the raw bytes of a GUID.
#pragma once

#include <cstdint>

namespace ZT {

// Fills `bytes` with a new GUID in its memory order (Data1 and Data2 and Data3
// little-endian, then the eight bytes of Data4). Windows asks CoCreateGuid; the
// POSIX build takes random bytes and sets the version-4 and variant bits where a
// GUID holds them (high nibble of byte 7, top two bits of byte 8). Any failure
// throws std::runtime_error "CoCreateGuid failure".
void new_guid(std::uint8_t (&bytes)[16]);

}  // namespace ZT
