#include "lib/text.h"

#include "lib/errors.h"

#include <algorithm>

namespace ZT {

std::size_t utf8_decode_char(const char* bytes, std::size_t available, std::uint32_t& code_point) {
    code_point = 0;
    if (available == 0) return 0;
    const auto first = static_cast<unsigned char>(bytes[0]);
    if (first < 0x80) {
        code_point = first;
        return first == 0 ? 0 : 1;
    }

    struct lead { unsigned char mask, value; };
    static constexpr lead leads[] = {{0xE0, 0xC0}, {0xF0, 0xE0}, {0xF8, 0xF0}, {0xFC, 0xF8}, {0xFE, 0xFC}};
    const std::size_t longest = std::min<std::size_t>(available, 6);
    std::size_t n = 0;
    for (std::size_t length = 2; length <= 6 && length - 1 < longest; ++length) {
        const lead& l = leads[length - 2];
        if ((first & l.mask) == l.value) {
            n = length;
            break;
        }
    }
    if (n == 0) return 0;
    if (n == 2 && (first & 0x1E) == 0) return 0;  // C0, C1: over-long forms

    std::uint32_t value = first & (0xFFu >> (n + 1));
    for (std::size_t i = 1; i < n; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if ((byte & 0xC0) != 0x80) return 0;
        // Over-long forms of three bytes and more show as zero bits up to the third byte.
        if (i == 2 && value == 0 && ((byte & 0x7F) >> (7 - n)) == 0) return 0;
        value = (value << 6) | (byte & 0x3F);
    }
    code_point = value;
    return n;
}

std::size_t utf8_encode_char(std::uint32_t c, char* output) {
    std::size_t length;
    if (c < 0x80) length = 1;
    else if (c < 0x800) length = 2;
    else if (c < 0x10000) length = 3;
    else if (c < 0x200000) length = 4;
    else if (c < 0x4000000) length = 5;
    else if (c <= 0x7FFFFFFF) length = 6;
    else return 0;
    if (!output) return length;

    if (length == 1) {
        output[0] = static_cast<char>(c);
        return 1;
    }
    static constexpr unsigned char lead_bits[] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    for (std::size_t i = length - 1; i > 0; --i) {
        output[i] = static_cast<char>(0x80 | (c & 0x3F));
        c >>= 6;
    }
    output[0] = static_cast<char>(lead_bits[length] | c);
    return length;
}

std::uint32_t utf16_decode_char(const char16_t* units, std::size_t& position, std::size_t length) {
    if (position >= length) return 0;
    const std::uint32_t unit = units[position];
    if (length - position == 1) {
        ++position;
        return unit;
    }
    if (unit == 0) return 0;
    const std::uint32_t next = units[position + 1];
    if (unit >= 0xD800 && unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
        position += 2;
        return (((unit & 0x3FF) << 10) | (next & 0x3FF)) + 0x10000;
    }
    ++position;
    return unit;
}

namespace {

// Appends the UTF-16 form of a code point; returns the number of units.
// Values beyond the UTF-16 range have no form and are left out.
std::size_t put_utf16(std::uint32_t c, char16_t* output) {
    if (c < 0x10000) {
        if (output) output[0] = static_cast<char16_t>(c);
        return 1;
    }
    if (c <= 0x10FFFF) {
        if (output) {
            output[0] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            output[1] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
        return 2;
    }
    return 0;
}

}  // namespace

std::u16string utf8_to_utf16(std::string_view utf8) {
    // First pass counts, second pass fills the string sized once.
    std::size_t units = 0;
    for (std::size_t at = 0;;) {
        std::uint32_t c;
        const std::size_t used = utf8_decode_char(utf8.data() + at, utf8.size() - at, c);
        if (used == 0) break;
        units += put_utf16(c, nullptr);
        at += used;
    }
    std::u16string result(units, u'\0');
    std::size_t out = 0;
    for (std::size_t at = 0;;) {
        std::uint32_t c;
        const std::size_t used = utf8_decode_char(utf8.data() + at, utf8.size() - at, c);
        if (used == 0) break;
        out += put_utf16(c, result.data() + out);
        at += used;
    }
    return result;
}

std::string utf16_to_utf8(std::u16string_view utf16) {
    std::size_t bytes = 0;
    for (std::size_t at = 0;;) {
        const std::uint32_t c = utf16_decode_char(utf16.data(), at, utf16.size());
        if (c == 0) break;
        bytes += utf8_encode_char(c, nullptr);
    }
    std::string result(bytes, '\0');
    std::size_t out = 0;
    for (std::size_t at = 0;;) {
        const std::uint32_t c = utf16_decode_char(utf16.data(), at, utf16.size());
        if (c == 0) break;
        out += utf8_encode_char(c, result.data() + out);
    }
    return result;
}

bool is_valid_utf8(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && text[at] != '\0') {
        std::uint32_t c;
        const std::size_t used = utf8_decode_char(text.data() + at, text.size() - at, c);
        if (used == 0) return false;
        at += used;
    }
    return true;
}

std::uint64_t parse_uint64(std::string_view digits) {
    std::uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') throw invalid_input();
        const std::uint64_t next = value * 10 + static_cast<unsigned>(c - '0');
        if (next / 10 != value) throw overflow();
        value = next;
    }
    return value;
}

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    throw invalid_input();
}

std::uint8_t parse_hex_byte(char high, char low) {
    return static_cast<std::uint8_t>(hex_digit_value(high) * 16 + hex_digit_value(low));
}

namespace {

// Appends the digits of `value`, at least `min_digits` of them (leading zeros).
void append_in_base(std::string& out, std::uint64_t value, unsigned min_digits, unsigned base, const char* digits) {
    char reversed[64];  // 64 binary digits at most; min_digits beyond that come as zeros first
    std::size_t count = 0;
    do {
        reversed[count++] = digits[value % base];
        value /= base;
    } while (value != 0);
    if (min_digits > count) out.append(min_digits - count, '0');
    while (count != 0) out += reversed[--count];
}

}  // namespace

void append_uint(std::string& out, std::uint64_t value, unsigned min_digits) {
    append_in_base(out, value, min_digits, 10, "0123456789");
}

std::string format_uint(std::uint64_t value, unsigned min_digits) {
    std::string result;
    append_uint(result, value, min_digits);
    return result;
}

std::string format_hex(std::uint64_t value, unsigned min_digits, bool upper_case) {
    std::string result;
    append_in_base(result, value, min_digits, 16, upper_case ? "0123456789ABCDEF" : "0123456789abcdef");
    return result;
}

std::string format_hex_bytes(const std::uint8_t (&bytes)[16]) {
    std::string result;
    for (std::uint8_t b : bytes) result += format_hex(b, 2);
    return result;
}

std::string to_upper_ascii(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return result;
}

std::string to_lower_ascii(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return result;
}

}  // namespace ZT
