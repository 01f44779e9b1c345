#include "lib/codepage.h"
#include "lib/errors.h"
#include "lib/text.h"

#include <gtest/gtest.h>

#include <limits>

namespace ZT {
namespace {

std::string bytes(std::initializer_list<unsigned> values) {
    std::string s;
    for (unsigned v : values) s.push_back(static_cast<char>(v));
    return s;
}

std::size_t decode(const std::string& s, std::uint32_t& c) { return utf8_decode_char(s.data(), s.size(), c); }

TEST(utf8_decoder, refuses_over_long_and_stray_forms) {
    std::uint32_t c;
    EXPECT_EQ(decode(bytes({0xC0, 0x80}), c), 0u);        // over-long zero
    EXPECT_EQ(decode(bytes({0xC1, 0xBF}), c), 0u);
    EXPECT_EQ(decode(bytes({0xE0, 0x80, 0x80}), c), 0u);  // over-long three-byte zero
    EXPECT_EQ(decode(bytes({0x80}), c), 0u);              // continuation byte first
    EXPECT_EQ(decode(bytes({0xFE}), c), 0u);
    EXPECT_EQ(decode(bytes({0xFF}), c), 0u);
    EXPECT_EQ(decode(bytes({0xE2, 0x82}), c), 0u);        // truncated
    EXPECT_EQ(decode(bytes({0xC3, 0x41}), c), 0u);        // bad continuation
    EXPECT_EQ(decode(std::string(1, '\0'), c), 0u);      // end of text
    EXPECT_EQ(utf8_decode_char("a", 0, c), 0u);
}

TEST(utf8_decoder, accepts_what_the_wide_form_allows) {
    std::uint32_t c;
    // The over-long check only looks at the third byte when all bits before it are zero.
    EXPECT_EQ(decode(bytes({0xE0, 0x80, 0x90}), c), 3u);
    EXPECT_EQ(c, 0x10u);
    EXPECT_EQ(decode(bytes({0xED, 0xA0, 0x80}), c), 3u);  // encoded surrogate
    EXPECT_EQ(c, 0xD800u);
    EXPECT_EQ(decode(bytes({0xF0, 0x9F, 0x98, 0x80}), c), 4u);
    EXPECT_EQ(c, 0x1F600u);
    EXPECT_EQ(decode(bytes({0xF4, 0x90, 0x80, 0x80}), c), 4u);  // above 0x10FFFF
    EXPECT_EQ(c, 0x110000u);
    EXPECT_EQ(decode(bytes({0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}), c), 6u);
    EXPECT_EQ(c, 0x7FFFFFFFu);
    EXPECT_EQ(decode("A", c), 1u);
    EXPECT_EQ(c, 0x41u);
}

TEST(utf8_encoder, lengths_and_round_trip) {
    char out[6];
    EXPECT_EQ(utf8_encode_char(0x7F, nullptr), 1u);
    EXPECT_EQ(utf8_encode_char(0x80, nullptr), 2u);
    EXPECT_EQ(utf8_encode_char(0x7FF, nullptr), 2u);
    EXPECT_EQ(utf8_encode_char(0x800, nullptr), 3u);
    EXPECT_EQ(utf8_encode_char(0x10000, nullptr), 4u);
    EXPECT_EQ(utf8_encode_char(0x200000, nullptr), 5u);
    EXPECT_EQ(utf8_encode_char(0x4000000, nullptr), 6u);
    EXPECT_EQ(utf8_encode_char(0x80000000u, nullptr), 0u);
    for (std::uint32_t c : {0x41u, 0xE9u, 0x20ACu, 0xD800u, 0x1F600u, 0x10FFFFu, 0x3FFFFFFu, 0x7FFFFFFFu}) {
        const std::size_t n = utf8_encode_char(c, out);
        std::uint32_t back;
        ASSERT_EQ(utf8_decode_char(out, n, back), n) << std::hex << c;
        EXPECT_EQ(back, c);
    }
    EXPECT_EQ(std::string(out, utf8_encode_char(0xE9, out)), bytes({0xC3, 0xA9}));
}

TEST(string_conversion, utf8_and_utf16_round_trip) {
    EXPECT_EQ(utf8_to_utf16(bytes({0xED, 0xA0, 0x80})), std::u16string(1, char16_t(0xD800)));
    const std::string smiley = bytes({0xF0, 0x9F, 0x98, 0x80});
    EXPECT_EQ(utf8_to_utf16(smiley), (std::u16string{char16_t(0xD83D), char16_t(0xDE00)}));
    EXPECT_EQ(utf16_to_utf8(std::u16string{char16_t(0xD83D), char16_t(0xDE00)}), smiley);
    const std::string mixed = "caf" + bytes({0xC3, 0xA9}) + " " + smiley + " \xE2\x82\xAC";
    EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(mixed)), mixed);
}

TEST(string_conversion, stops_quietly_at_bad_input) {
    EXPECT_EQ(utf8_to_utf16(bytes({0x61, 0x62, 0xFF, 0x63, 0x64})), u"ab");
    EXPECT_EQ(utf8_to_utf16(std::string("ab\0cd", 5)), u"ab");
    // A lone high surrogate at the end comes out in its three-byte form.
    EXPECT_EQ(utf16_to_utf8(std::u16string{u'x', char16_t(0xD83D)}), "x" + bytes({0xED, 0xA0, 0xBD}));
    // A lone low surrogate in the middle, too.
    EXPECT_EQ(utf16_to_utf8(std::u16string{char16_t(0xDC00), u'y'}), bytes({0xED, 0xB0, 0x80}) + "y");
    EXPECT_EQ(utf16_to_utf8(std::u16string{u'a', 0, u'b'}), "a");
}

TEST(string_conversion, validity_test) {
    EXPECT_TRUE(is_valid_utf8(""));
    EXPECT_TRUE(is_valid_utf8("plain"));
    EXPECT_TRUE(is_valid_utf8(bytes({0xC3, 0xA9})));
    EXPECT_FALSE(is_valid_utf8(bytes({0x61, 0xFF})));
    EXPECT_FALSE(is_valid_utf8(bytes({0xC3})));
    // The test ends at the first zero byte.
    EXPECT_TRUE(is_valid_utf8(std::string("ok\0\xFF", 4)));
}

TEST(number_parsing, uint64_limits_and_refusals) {
    EXPECT_EQ(parse_uint64(""), 0u);
    EXPECT_EQ(parse_uint64("0021"), 21u);
    EXPECT_EQ(parse_uint64("18446744073709551615"), std::numeric_limits<std::uint64_t>::max());
    EXPECT_THROW(parse_uint64("18446744073709551616"), overflow);
    EXPECT_THROW(parse_uint64("100000000000000000000"), overflow);
    EXPECT_THROW(parse_uint64("12a"), invalid_input);
    EXPECT_THROW(parse_uint64("-1"), invalid_input);
    EXPECT_THROW(parse_uint64(" 1"), invalid_input);
}

TEST(number_parsing, hex_digits) {
    EXPECT_EQ(hex_digit_value('0'), 0u);
    EXPECT_EQ(hex_digit_value('a'), 10u);
    EXPECT_EQ(hex_digit_value('F'), 15u);
    EXPECT_THROW(hex_digit_value('g'), invalid_input);
    EXPECT_FALSE(is_hex_digit('G'));
    EXPECT_TRUE(is_hex_digit('c'));
    EXPECT_EQ(parse_hex_byte('c', '3'), 0xC3);
    EXPECT_EQ(parse_hex_byte('F', 'f'), 0xFF);
}

TEST(number_formatting, minimum_widths) {
    EXPECT_EQ(format_uint(7, 2), "07");
    EXPECT_EQ(format_uint(0, 1), "0");
    EXPECT_EQ(format_uint(2026, 4), "2026");
    EXPECT_EQ(format_uint(123456, 2), "123456");
    EXPECT_EQ(format_uint(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615");
    EXPECT_EQ(format_hex(255, 8), "000000ff");
    EXPECT_EQ(format_hex(0xABC, 2, true), "ABC");
    EXPECT_EQ(format_hex(0, 2), "00");
    const std::uint8_t guid[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                   0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0xff};
    EXPECT_EQ(format_hex_bytes(guid), "0123456789abcdef00112233445566ff");
}

TEST(case_mapping, ascii_letters_only) {
    EXPECT_EQ(to_upper_ascii("noop x\xC3\xA9"), "NOOP X\xC3\xA9");
    EXPECT_EQ(to_lower_ascii("TrUe\xC3\x89"), "true\xC3\x89");
}

TEST(local_code_page, ascii_round_trips_and_never_throws) {
    EXPECT_EQ(local_to_utf8("plain name.txt"), "plain name.txt");
    EXPECT_EQ(utf8_to_local("plain name.txt"), "plain name.txt");
    EXPECT_EQ(utf8_to_local(""), "");
    EXPECT_EQ(local_to_utf8(""), "");
    // Arbitrary bytes and characters that the page may not hold never throw.
    std::string all;
    for (int b = 1; b < 0x100; ++b) all.push_back(static_cast<char>(b));
    EXPECT_NO_THROW(local_to_utf8(all));
    EXPECT_NO_THROW(utf8_to_local(bytes({0xF0, 0x9F, 0x98, 0x80})));
    // The text ends at a zero byte, as a zero-terminated text does.
    EXPECT_EQ(local_to_utf8(std::string("ab\0cd", 5)), "ab");
}

TEST(local_code_page, look_alikes_of_slashes_and_dots_stay_apart_from_them) {
    // The Western sets (Windows 1252, ISO 8859-1) hold "é" as one byte; UTF-8 keeps every character.
    const std::string e_acute = utf8_to_local("\xC3\xA9");
    if (e_acute != "\xE9" && e_acute != "\xC3\xA9") GTEST_SKIP() << "neither a Western local set nor UTF-8";
    EXPECT_EQ(local_to_utf8(e_acute), "\xC3\xA9");
    const bool keeps_all = e_acute.size() == 2;
    const std::pair<const char*, const char*> rows[] = {
        {"U+FF0F fullwidth solidus", "\xEF\xBC\x8F"}, {"U+2215 division slash", "\xE2\x88\x95"},
        {"U+2044 fraction slash", "\xE2\x81\x84"},   {"U+FF3C fullwidth reverse solidus", "\xEF\xBC\xBC"},
        {"U+2024 one dot leader", "\xE2\x80\xA4"},   {"U+FF0E fullwidth full stop", "\xEF\xBC\x8E"},
    };
    for (const auto& [name, character] : rows) {
        const std::string name_bytes = std::string("a") + character + "b";
        EXPECT_EQ(utf8_to_local(name_bytes), keeps_all ? name_bytes : "a?b") << name;
    }
}

}  // namespace
}  // namespace ZT
