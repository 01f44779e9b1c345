#include "config/ini_file.h"

#include "lib/errors.h"

#include "file_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace ZT {
namespace {

using namespace std::string_literals;

std::optional<std::string> value_of(const ini_file& ini, const std::string& section, const std::string& key) {
    const ini_section* found = ini.find_section(section);
    if (found == nullptr) return std::nullopt;
    return found->find(key);
}

TEST(ini_file_parse, crlf_parses_like_lf_and_lone_cr_does_not_end_a_line) {
    const ini_file lf = parse("[config]\nlisten-port=2121\nname=demo\n");
    const ini_file crlf = parse("[config]\r\nlisten-port=2121\r\nname=demo\r\n");
    for (const ini_file* ini : {&lf, &crlf}) {
        EXPECT_EQ(value_of(*ini, "config", "listen-port"), "2121");
        EXPECT_EQ(value_of(*ini, "config", "name"), "demo");
    }

    // With only CR, everything after the header is one entry.
    const ini_file cr = parse("[config]\na=1\rb=2\r");
    EXPECT_EQ(value_of(cr, "config", "a"), "1\rb=2");
    EXPECT_EQ(value_of(cr, "config", "b"), std::nullopt);
    // And a header followed by CR-ended lines is no header at all.
    EXPECT_EQ(parse("[config]\ra=1\r").find_section("config"), nullptr);
}

TEST(ini_file_parse, entries_split_at_first_equals_and_trim_blanks) {
    const ini_file ini = parse(
        "[s]\n"
        "  key one \t=\t value = with = signs  \n"
        "bare words here\n"
        "=empty key\n"
        "empty value=\n"
        "\x01\x1F" "ctrl=\x7F" "x\x01\n"
        "\xC2\xA0wide\xC2\xA0=\xC2\xA0v\xC2\xA0\n"
        "; not a comment = 1\n"
        "# neither=2\n"
        "last=no line feed");
    EXPECT_EQ(value_of(ini, "s", "key one"), "value = with = signs");
    EXPECT_EQ(value_of(ini, "s", "bare words here"), "");
    EXPECT_EQ(value_of(ini, "s", ""), "empty key");
    EXPECT_EQ(value_of(ini, "s", "empty value"), "");
    // Every byte up to 32 is blank; 127 and bytes of 128 and above are not.
    EXPECT_EQ(value_of(ini, "s", "ctrl"), "\x7Fx");
    EXPECT_EQ(value_of(ini, "s", "\xC2\xA0wide\xC2\xA0"), "\xC2\xA0v\xC2\xA0");
    EXPECT_EQ(value_of(ini, "s", "; not a comment"), "1");
    EXPECT_EQ(value_of(ini, "s", "# neither"), "2");
    EXPECT_EQ(value_of(ini, "s", "last"), "no line feed");
}

TEST(ini_file_parse, header_forms) {
    const ini_file ini = parse(
        " \t[trimmed]  \r\n"
        "a=1\n"
        "[ inner blanks ]\n"
        "b=2\n"
        "[]\n"
        "c=3\n"
        "[config] trailing\n"
        "[\n"
        "]\n");
    EXPECT_EQ(value_of(ini, "trimmed", "a"), "1");
    EXPECT_EQ(ini.find_section("inner blanks"), nullptr);
    EXPECT_EQ(value_of(ini, " inner blanks ", "b"), "2");
    EXPECT_EQ(value_of(ini, "", "c"), "3");
    // Text after the closing bracket makes an entry of the empty-named section,
    // as do lone brackets.
    EXPECT_EQ(ini.find_section("config"), nullptr);
    EXPECT_EQ(value_of(ini, "", "[config] trailing"), "");
    EXPECT_EQ(value_of(ini, "", "["), "");
    EXPECT_EQ(value_of(ini, "", "]"), "");
}

TEST(ini_file_parse, keys_before_any_header_go_to_the_empty_named_section) {
    const ini_file ini = parse("name=early\n\n   \n[user]\nhome=/h\n");
    EXPECT_EQ(value_of(ini, "", "name"), "early");
    EXPECT_EQ(value_of(ini, "user", "name"), std::nullopt);
    EXPECT_EQ(value_of(ini, "user", "home"), "/h");
    EXPECT_EQ(ini.sections_named("").size(), 1u);
}

TEST(ini_file_parse, repeated_keys_and_sections) {
    const ini_file ini = parse(
        "[user]\nname=a\nname=b\n"
        "[config]\nport=1\n"
        "[user]\nname=c\n"
        "[config]\nport=2\nextra=x\n");
    EXPECT_EQ(value_of(ini, "user", "name"), "b");

    const auto users = ini.sections_named("user");
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0]->find("name"), "b");
    EXPECT_EQ(users[1]->find("name"), "c");

    // find_section gives the first; the second's keys are not merged into it.
    EXPECT_EQ(value_of(ini, "config", "port"), "1");
    EXPECT_EQ(value_of(ini, "config", "extra"), std::nullopt);
    EXPECT_EQ(ini.sections_named("config").size(), 2u);
}

TEST(ini_file_parse, lookups_are_exact_and_case_sensitive) {
    const ini_file ini = parse("[Config]\nKey=1\n[config2]\nkey=2\n");
    EXPECT_EQ(ini.find_section("config"), nullptr);
    EXPECT_TRUE(ini.sections_named("config").empty());
    EXPECT_EQ(value_of(ini, "Config", "key"), std::nullopt);
    EXPECT_EQ(value_of(ini, "Config", "Key"), "1");
    EXPECT_TRUE(parse("").sections_named("").empty());
}

TEST(ini_file_parse, stops_at_first_zero_byte_and_keeps_a_byte_order_mark) {
    const ini_file cut = parse("[s]\na=1\nb=2\0\nc=3\n"s);
    EXPECT_EQ(value_of(cut, "s", "b"), "2");
    EXPECT_EQ(value_of(cut, "s", "c"), std::nullopt);

    const ini_file bom = parse("\xEF\xBB\xBF[config]\nlisten-port=1\n");
    EXPECT_EQ(bom.find_section("config"), nullptr);
    EXPECT_EQ(value_of(bom, "", "\xEF\xBB\xBF[config]"), "");
    EXPECT_EQ(value_of(bom, "", "listen-port"), "1");
}

TEST(ini_file_values, parse_uint32_limits) {
    EXPECT_EQ(parse_uint32(""), 0u);
    EXPECT_EQ(parse_uint32("0"), 0u);
    EXPECT_EQ(parse_uint32("0021"), 21u);
    EXPECT_EQ(parse_uint32("4294967295"), 4294967295u);
    EXPECT_THROW(parse_uint32("4294967296"), overflow);
    EXPECT_THROW(parse_uint32("99999999999999999999"), overflow);
    for (const char* bad : {"+1", "-1", "0x10", " 1", "1 ", "1a", "١"}) {
        EXPECT_THROW(parse_uint32(bad), invalid_input) << bad;
    }
}

TEST(ini_file_values, parse_bool_words) {
    for (const char* word : {"1", "true", "yes", "TRUE", "Yes", "yEs"}) {
        bool value = false;
        EXPECT_TRUE(parse_bool(word, value)) << word;
        EXPECT_TRUE(value) << word;
    }
    for (const char* word : {"0", "false", "no", "FALSE", "No"}) {
        bool value = true;
        EXPECT_TRUE(parse_bool(word, value)) << word;
        EXPECT_FALSE(value) << word;
    }
    for (const char* word : {"", "on", "off", "y", "n", "2", " yes", "maybe", "truee"}) {
        bool value = true;
        EXPECT_FALSE(parse_bool(word, value)) << word;
        EXPECT_TRUE(value) << word;
        value = false;
        EXPECT_FALSE(parse_bool(word, value)) << word;
        EXPECT_FALSE(value) << word;
    }
}

// A scratch folder for each test, to load files from.
class ini_file_load : public test::scratch_test {
protected:
    // Writes a file into the scratch folder; returns its path.
    std::string write(const std::string& name, const std::string& bytes) {
        put(name, bytes);
        return at(name);
    }

    // A file of exactly `size` bytes whose last entry sits at its very end.
    std::string sized_file(const std::string& name, std::size_t size) {
        const std::string head = "[config]\nfirst=1\n";
        const std::string tail = "\nlast=2";
        std::string bytes = head + std::string(size - head.size() - tail.size(), ' ') + tail;
        return write(name, bytes);
    }
};

TEST_F(ini_file_load, reads_and_parses_a_file) {
    const ini_file ini = load_ini_file(write("Config.ini", "[config]\r\nlisten-port=2121\r\n[user]\r\nname=demo\r\n"));
    EXPECT_EQ(value_of(ini, "config", "listen-port"), "2121");
    EXPECT_EQ(value_of(ini, "user", "name"), "demo");

    EXPECT_TRUE(load_ini_file(write("empty.ini", "")).sections_named("").empty());

    const ini_file cut = load_ini_file(write("zero.ini", "[s]\na=1\0b=2\n"s));
    EXPECT_EQ(value_of(cut, "s", "a"), "1");
    EXPECT_EQ(value_of(cut, "s", "b"), std::nullopt);
}

TEST_F(ini_file_load, byte_order_marks_of_windows_editors) {
    const std::u16string text = u"[config]\r\nlisten-port=2121\r\n[user]\r\nname=Zo\u00EB\U0001F600\r\n";
    std::string little = "\xFF\xFE", big = "\xFE\xFF";
    for (const char16_t unit : text) {
        little += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
        big += {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
    }
    const std::string utf8 = "[config]\r\nlisten-port=2121\r\n[user]\r\nname=Zo\xC3\xAB\xF0\x9F\x98\x80\r\n";
    const std::pair<const char*, std::string> rows[] = {
        {"plain", utf8},
        {"UTF-8 mark", "\xEF\xBB\xBF" + utf8},
        {"UTF-16 little-endian", little},
        {"UTF-16 big-endian", big},
        {"UTF-16 odd last byte", little + "["},
        {"UTF-16 zero character", big + "\0\0\0[\0u\0s\0e\0r\0]"s},
    };
    for (const auto& [form, bytes] : rows) {
        const ini_file ini = load_ini_file(write("Config.ini", bytes));
        EXPECT_EQ(value_of(ini, "config", "listen-port"), "2121") << form;
        EXPECT_EQ(value_of(ini, "user", "name"), "Zo\xC3\xAB\xF0\x9F\x98\x80") << form;
        EXPECT_EQ(ini.sections_named("user").size(), 1u) << form;
    }
}

TEST_F(ini_file_load, size_limit_is_16_mib) {
    const ini_file at_limit = load_ini_file(sized_file("limit.ini", 16777216));
    EXPECT_EQ(value_of(at_limit, "config", "first"), "1");
    EXPECT_EQ(value_of(at_limit, "config", "last"), "2");

    EXPECT_THROW(load_ini_file(sized_file("over.ini", 16777217)), invalid_input);
}

TEST_F(ini_file_load, missing_file_or_folder_throws_file_not_found) {
    EXPECT_THROW(load_ini_file((root_ / "absent.ini").string()), file_not_found);
    EXPECT_THROW(load_ini_file((root_ / "no-folder" / "Config.ini").string()), file_not_found);
}

}  // namespace
}  // namespace ZT
