// Names for files that a client uploads without naming them.
#pragma once

#include <string>

namespace ZT {

// A new GUID's sixteen bytes in memory order as 32 lower-case hexadecimal
// digits, no separators. Throws std::runtime_error "CoCreateGuid failure" when
// no GUID can be made.
std::string unique_file_name();

}  // namespace ZT
