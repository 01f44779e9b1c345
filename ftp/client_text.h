// The ASCII form of file names for clients that use neither UTF-8 nor the local
// code page: bytes from 0x80 up travel as "%" and two hex digits, and "%" itself
// as "%%". Both functions work on byte strings and never throw.
#pragma once

#include <string>
#include <string_view>

namespace ZT {

// Each byte 0x80 to 0xFF becomes "%" and two lower-case hex digits; "%" becomes
// "%%"; every other byte is copied.
std::string percent_escape(std::string text);

// Reverses percent_escape and is lenient with what a client may type:
// "%%" gives "%", "%" and two hex digits (either case) give that raw byte, and a
// "%" that starts neither is kept as a literal "%". Other bytes below 0x80 are
// copied; a raw byte from 0x80 up is read as the ISO 8859-1 character of that
// value and stored as UTF-8. unescape(escape(t)) == t for every byte string t.
std::string percent_unescape(std::string_view text);

}  // namespace ZT
