// Text inside the server is UTF-8 in byte strings. This header has the character
// codecs (the wide, up-to-six-byte form of UTF-8 and UTF-16), whole-string
// conversions that stop quietly at the first bad character, and the small number
// parsers and formatters of the protocol layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ZT {

// Decodes one character. Returns the bytes consumed: 0 at the end of the text (a
// zero byte or nothing available) and for an invalid or truncated sequence.
std::size_t utf8_decode_char(const char* bytes, std::size_t available, std::uint32_t& code_point);

// Encodes one code point; returns its length (1 to 6, 0 above 0x7FFFFFFF). With a
// null output only the length is computed.
std::size_t utf8_encode_char(std::uint32_t code_point, char* output);

// Decodes one character at `position`, advancing it by 0, 1 or 2 units.
std::uint32_t utf16_decode_char(const char16_t* units, std::size_t& position, std::size_t length);

std::u16string utf8_to_utf16(std::string_view utf8);
std::string utf16_to_utf8(std::u16string_view utf16);

// True when every character up to the first zero byte decodes.
bool is_valid_utf8(std::string_view text);

// Number parsing: invalid_input for a character outside the base, overflow past
// the type's range. The empty text gives 0.
std::uint64_t parse_uint64(std::string_view digits);
unsigned hex_digit_value(char c);
bool is_hex_digit(char c);
std::uint8_t parse_hex_byte(char high, char low);

// Number formatting with a minimum count of digits (leading zeros).
std::string format_uint(std::uint64_t value, unsigned min_digits = 1);
// format_uint appended to `out`, for texts built piece by piece.
void append_uint(std::string& out, std::uint64_t value, unsigned min_digits = 1);
std::string format_hex(std::uint64_t value, unsigned min_digits = 1, bool upper_case = false);
std::string format_hex_bytes(const std::uint8_t (&bytes)[16]);

// ASCII-only case mapping; every other byte is copied unchanged.
std::string to_upper_ascii(std::string_view text);
std::string to_lower_ascii(std::string_view text);

}  // namespace ZT
