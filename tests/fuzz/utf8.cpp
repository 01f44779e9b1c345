// The character codecs of lib/text.h against each other:
// - is_valid_utf8 holds exactly when decoding character by character reaches
//   the first zero byte (or the end);
// - every decoded character is its value written in that many bytes (two-byte
//   forms are never over-long; the decoder lets some longer over-long forms
//   through on purpose), never code point 0, and is refused when cut short;
// - text of Unicode scalar values goes to UTF-16 and back as the shortest form
//   of each character, up to where decoding stops;
// - the input read as UTF-16 units goes to UTF-8 and back unchanged up to its
//   first zero unit, unpaired surrogates included, and that UTF-8 is valid.
#include "fuzz_support.h"
#include "lib/text.h"

#include <string>

namespace {

using namespace ZT;

// The code point written in exactly `length` bytes (over-long when longer than
// its shortest form).
std::string form_of_length(std::uint32_t code_point, std::size_t length) {
    if (length == 1) return std::string(1, static_cast<char>(code_point));
    static constexpr unsigned char lead_bits[] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    std::string bytes(length, '\0');
    for (std::size_t i = length - 1; i > 0; --i) {
        bytes[i] = static_cast<char>(0x80 | (code_point & 0x3F));
        code_point >>= 6;
    }
    bytes[0] = static_cast<char>(lead_bits[length] | code_point);
    return bytes;
}

void check_utf8(std::string_view text) {
    const std::size_t zero = text.find('\0');
    const std::size_t end = zero == std::string_view::npos ? text.size() : zero;

    std::size_t at = 0;
    bool scalar_values_only = true;
    std::string shortest;
    for (;;) {
        std::uint32_t code_point = 0xFFFFFFFF;
        const std::size_t used = utf8_decode_char(text.data() + at, text.size() - at, code_point);
        if (used == 0) break;
        fuzz::check(used <= 6 && at + used <= end, "a character lies before the first zero byte", text);
        fuzz::check(code_point != 0, "only the end gives code point 0", text);
        fuzz::check(form_of_length(code_point, used) == text.substr(at, used),
                    "a decoded character is its value written in that many bytes", text.substr(at, used));
        char encoded[6];
        const std::size_t length = utf8_encode_char(code_point, encoded);
        fuzz::check(length == utf8_encode_char(code_point, nullptr) && length != 0 && length <= used,
                    "the encoder's form is no longer than the decoded one", text.substr(at, used));
        fuzz::check(used != 2 || length == 2, "a two-byte form is never over-long", text.substr(at, used));
        shortest.append(encoded, length);
        std::uint32_t ignored;
        fuzz::check(utf8_decode_char(text.data() + at, used - 1, ignored) == 0, "a cut character is refused",
                    text.substr(at, used));
        if (code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) scalar_values_only = false;
        at += used;
    }
    fuzz::check(is_valid_utf8(text) == (at == end), "valid exactly when decoding reaches the first zero byte", text);

    // The conversion stops where decoding stops, valid text or not.
    if (scalar_values_only) {
        fuzz::check(utf16_to_utf8(utf8_to_utf16(text)) == shortest,
                    "Unicode text goes to UTF-16 and back in its shortest form", text);
    }
}

void check_utf16(std::string_view bytes) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    }
    const std::size_t zero = units.find(u'\0');
    const std::u16string_view before_zero = std::u16string_view(units).substr(0, zero);

    const std::string utf8 = utf16_to_utf8(units);
    fuzz::check(is_valid_utf8(utf8) && utf8.find('\0') == std::string::npos, "UTF-16 gives valid UTF-8 without zeros",
                bytes);
    fuzz::check(utf8_to_utf16(utf8) == before_zero, "UTF-16 goes to UTF-8 and back unchanged", bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::as_text(data, size);
    check_utf8(text);
    check_utf16(text);
    return 0;
}
