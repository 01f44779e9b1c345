// Conversions between UTF-8 and the system's local ("ANSI") character set, for
// clients that do not speak UTF-8. Windows uses the process's ANSI code page; the
// POSIX build uses the character set of the current locale.
#pragma once

#include <string>
#include <string_view>

namespace ZT {

std::string local_to_utf8(std::string_view local);
std::string utf8_to_local(std::string_view utf8);

}  // namespace ZT
