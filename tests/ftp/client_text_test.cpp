#include "ftp/client_text.h"

#include "lib/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ZT {
namespace {

using namespace std::string_literals;

TEST(client_text_escape, high_bytes_and_percent_escaped) {
    EXPECT_EQ(percent_escape("\xC3\xA9t"), "%c3%a9t");
    EXPECT_EQ(percent_escape("100%"), "100%%");
    EXPECT_EQ(percent_escape("\x80\xFF"), "%80%ff");
    EXPECT_EQ(percent_escape("a\0b\x7F ~"s), "a\0b\x7F ~"s);
    EXPECT_EQ(percent_escape(""), "");
}

TEST(client_text_unescape, escapes_give_raw_bytes) {
    EXPECT_EQ(percent_unescape("%c3%a9t"), "\xC3\xA9t");
    EXPECT_EQ(percent_unescape("%C3%A9t"), "\xC3\xA9t");
    EXPECT_EQ(percent_unescape("%41%7e%00"), "A~\0"s);
    EXPECT_EQ(percent_unescape("100%%"), "100%");
    EXPECT_EQ(percent_unescape("%%41"), "%41");
    EXPECT_EQ(percent_unescape("%%%41"), "%A");
}

TEST(client_text_unescape, stray_percent_kept_literally) {
    EXPECT_EQ(percent_unescape("%zz"), "%zz");
    EXPECT_EQ(percent_unescape("a%4"), "a%4");
    EXPECT_EQ(percent_unescape("a%"), "a%");
    EXPECT_EQ(percent_unescape("%"), "%");
    EXPECT_EQ(percent_unescape("%4g"), "%4g");
    // Decoding goes on right after the kept "%": an escape may follow at once.
    EXPECT_EQ(percent_unescape("%x%41"), "%xA");
    EXPECT_EQ(percent_unescape("%%4"), "%4");
}

TEST(client_text_unescape, raw_high_bytes_read_as_latin1) {
    EXPECT_EQ(percent_unescape("\xE9"), "\xC3\xA9");
    EXPECT_EQ(percent_unescape("caf\xE9"), "caf\xC3\xA9");
    EXPECT_EQ(percent_unescape("\x80\xFF"), "\xC2\x80\xC3\xBF");
    EXPECT_EQ(percent_unescape("%\xE9"), "%\xC3\xA9");
}

TEST(client_text_round_trip, unescape_reverses_escape) {
    std::vector<std::string> texts = {
        "",
        "plain.txt",
        "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xE4\xB8\xAD",
        "%", "%%", "%41", "%c3%a9", "%zz", "100%", "a%4",
        "\x7F\x01 \t",
        "\0mid\0"s,
    };
    // Every code point 0 to 255 as UTF-8 inside a name, so that every ASCII byte
    // and the UTF-8 lead and continuation bytes of Latin-1 are covered.
    for (std::uint32_t code_point = 0; code_point < 256; ++code_point) {
        char encoded[6];
        std::string text = "a%";
        text.append(encoded, utf8_encode_char(code_point, encoded));
        text += "%b";
        texts.push_back(text);
    }
    // Every raw byte value on its own: the pair reverses any byte string.
    for (int byte = 0; byte < 256; ++byte) texts.push_back(std::string(1, static_cast<char>(byte)));

    for (const std::string& text : texts) {
        const std::string escaped = percent_escape(text);
        for (char c : escaped) {
            EXPECT_LT(static_cast<unsigned char>(c), 0x80) << "escaped text not ASCII";
        }
        EXPECT_EQ(percent_unescape(escaped), text);
    }
}

}  // namespace
}  // namespace ZT
