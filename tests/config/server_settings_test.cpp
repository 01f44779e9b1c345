#include "config/server_settings.h"

#include "config/ini_file.h"
#include "lib/errors.h"

#include "file_support.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace ZT {
namespace {

using port_set = std::set<std::uint32_t>;
using range_map = std::map<std::uint32_t, std::uint32_t>;

server_settings from_text(const std::string& text) { return server_settings(parse(text)); }

// The message of the std::runtime_error that building settings from `text` throws.
std::string load_error(const std::string& text) {
    try {
        from_text(text);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(no error)";
}

struct pasv_result {
    port_set ports;
    range_map ranges;
};

pasv_result pasv(const std::string& value) {
    pasv_result result;
    parse_pasv_ports(value, result.ports, result.ranges);
    return result;
}

TEST(server_settings_config, defaults_without_config_or_users) {
    for (const char* text : {"", "[other]\nconcurrency=1\n", "concurrency=1\nlisten-port=2\n"}) {
        const server_settings settings = from_text(text);
        EXPECT_EQ(settings.concurrency, 128u) << text;
        EXPECT_EQ(settings.listen_port, 21u) << text;
        EXPECT_EQ(settings.listen_address, "") << text;
        EXPECT_EQ(settings.pasv_address, "") << text;
        EXPECT_TRUE(settings.pasv_ports.empty()) << text;
        EXPECT_TRUE(settings.pasv_port_ranges.empty()) << text;
        EXPECT_FALSE(settings.allow_local_codepage) << text;
        EXPECT_TRUE(settings.users.empty()) << text;
    }
}

TEST(server_settings_config, keys_of_the_first_config_section) {
    const server_settings settings = from_text(
        "[config]\r\n"
        "concurrency=0\r\n"
        "listen-port=65557\r\n"
        "listen-address= 127.0.0.1 \r\n"
        "pasv-address=ftp.example.test\r\n"
        "pasv-ports=50000-50002, 60000\r\n"
        "allow-local-codepage=Yes\r\n"
        "[config]\r\n"
        "concurrency=7\r\n"
        "listen-address=10.0.0.1\r\n");
    EXPECT_EQ(settings.concurrency, 0u);
    EXPECT_EQ(settings.listen_port, 65557u);  // only the listener cuts it to 16 bits
    EXPECT_EQ(settings.listen_address, "127.0.0.1");
    EXPECT_EQ(settings.pasv_address, "ftp.example.test");
    EXPECT_EQ(settings.pasv_ports, (port_set{60000}));
    EXPECT_EQ(settings.pasv_port_ranges, (range_map{{50000, 50002}}));
    EXPECT_TRUE(settings.allow_local_codepage);

    EXPECT_EQ(from_text("[config]\nlisten-port=\n").listen_port, 0u);
    EXPECT_EQ(from_text("[config]\nlisten-port=0021\n").listen_port, 21u);
    EXPECT_FALSE(from_text("[config]\nallow-local-codepage=on\n").allow_local_codepage);
    EXPECT_FALSE(from_text("[config]\nallow-local-codepage=0\n").allow_local_codepage);
}

TEST(server_settings_config, bad_numbers_keep_their_exception) {
    EXPECT_THROW(from_text("[config]\nlisten-port=21a\n"), invalid_input);
    EXPECT_THROW(from_text("[config]\nlisten-port=-1\n"), invalid_input);
    EXPECT_THROW(from_text("[config]\nlisten-port=4294967296\n"), overflow);
    EXPECT_THROW(from_text("[config]\nconcurrency=0x10\n"), invalid_input);
    EXPECT_THROW(from_text("[config]\nconcurrency=99999999999\n"), overflow);
    EXPECT_EQ(from_text("[config]\nconcurrency=4294967295\n").concurrency, 4294967295u);
}

TEST(server_settings_pasv, overlapping_ranges_merge_and_a_touching_single_stays) {
    const pasv_result result = pasv("50000-50010, 50005-50020; 50021 49990");
    EXPECT_EQ(result.ranges, (range_map{{50000, 50020}}));
    EXPECT_EQ(result.ports, (port_set{49990, 50021}));
}

TEST(server_settings_pasv, touching_ranges_merge_and_a_gap_keeps_them_apart) {
    EXPECT_EQ(pasv("100-200 201-300").ranges, (range_map{{100, 300}}));
    EXPECT_EQ(pasv("201-300,100-200").ranges, (range_map{{100, 300}}));
    EXPECT_EQ(pasv("100-200 202-300").ranges, (range_map{{100, 200}, {202, 300}}));
    // A chain of ranges folds into one, including a range inside another and the
    // same first port twice (the larger last port counts).
    EXPECT_EQ(pasv("10-20 15-16 21-25 26-30 10-12 40-41 40-45").ranges, (range_map{{10, 30}, {40, 45}}));
    // Singles inside a range, at either end, go; neighbours stay.
    const pasv_result singles = pasv("100 99 100-200 150 200 201 300 300");
    EXPECT_EQ(singles.ports, (port_set{99, 201, 300}));
}

TEST(server_settings_pasv, separators_colons_and_empty_sides) {
    EXPECT_EQ(pasv("1000:1010").ranges, (range_map{{1000, 1010}}));
    EXPECT_EQ(pasv("\t1 ,,; 2\r\n3;").ports, (port_set{1, 2, 3}));
    EXPECT_EQ(pasv("-5").ranges, (range_map{{0, 5}}));
    EXPECT_EQ(pasv("7-7").ranges, (range_map{{7, 7}}));
    EXPECT_EQ(pasv("65535 0-65535").ranges, (range_map{{0, 65535}}));
    EXPECT_TRUE(pasv("65535 0-65535").ports.empty());
    const pasv_result nothing = pasv(" ,; ");
    EXPECT_TRUE(nothing.ports.empty());
    EXPECT_TRUE(nothing.ranges.empty());
}

TEST(server_settings_pasv, errors_become_one_message_and_change_nothing) {
    for (const char* bad : {"200-100", "50000-5000x", "abc", "1x", "+5", "0x10", "1-2-3", "1:2-3", "4294967296",
                            "65536", "1-65536", "65536-70000", "100 65536"}) {
        port_set ports{1};
        range_map ranges{{10, 20}};
        try {
            parse_pasv_ports(bad, ports, ranges);
            ADD_FAILURE() << "accepted " << bad;
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "Could not parse PASV ports list") << bad;
        }
        EXPECT_EQ(ports, (port_set{1})) << bad;
        EXPECT_EQ(ranges, (range_map{{10, 20}})) << bad;
    }
    EXPECT_EQ(load_error("[config]\npasv-ports=200-100\n"), "Could not parse PASV ports list");
    EXPECT_EQ(load_error("[config]\npasv-ports=70000\n"), "Could not parse PASV ports list");
}

TEST(server_settings_proxy_from, lists_of_balancer_addresses) {
    const struct {
        const char* value;
        std::vector<std::uint32_t> expected;
    } good[] = {
        {"", {}},
        {"  ", {}},
        {"127.0.0.1", {0x7F000001}},
        {"10.0.0.1, 192.0.2.10 ,203.0.113.7", {0x0A000001, 0xC000020A, 0xCB007107}},
    };
    for (const auto& row : good) EXPECT_EQ(parse_proxy_from(row.value), row.expected) << row.value;
    for (const char* bad : {"127.0.0.1,", ",127.0.0.1", "localhost", "127.0.0.256", "127.0.0", "::1",
                            "127.0.0.1 10.0.0.1", "127.0.0.1;10.0.0.1"}) {
        EXPECT_THROW(parse_proxy_from(bad), std::runtime_error) << bad;
    }
    EXPECT_EQ(load_error("[config]\nproxy-from=balancer\n"), "Could not parse proxy-from list");
}

TEST(server_settings_users, accounts_from_user_sections) {
    const server_settings settings = from_text(
        "[user]\nname=alice\npassword=Secret \nhome=C:\\ftp\\alice\ncan-write=YES\nshell=ignored\n"
        "[user]\nname=Alice\nhome=/srv/big-alice\n"
        "[user]\nname=\nhome=\npassword=\ncan-write=maybe\n"
        "[group]\nname=nobody\n");
    ASSERT_EQ(settings.users.size(), 3u);

    const user_account& alice = settings.find_account("alice");
    EXPECT_EQ(alice.password, "Secret");
    EXPECT_EQ(alice.home, "C:\\ftp\\alice");
    EXPECT_TRUE(alice.can_write);

    // Names differ by letter case: another account, with no password line.
    const user_account& big = settings.find_account("Alice");
    EXPECT_EQ(big.password, "");
    EXPECT_EQ(big.home, "/srv/big-alice");
    EXPECT_FALSE(big.can_write);

    // Empty name and home are allowed; an unrecognised can-write leaves read-only.
    const user_account& unnamed = settings.find_account("");
    EXPECT_EQ(unnamed.home, "");
    EXPECT_FALSE(unnamed.can_write);
}

TEST(server_settings_users, later_duplicate_replaces_the_whole_account) {
    const server_settings settings = from_text(
        "[user]\nname=demo\npassword=one\nhome=/one\ncan-write=true\n"
        "[user]\nname=demo\nhome=/two\n");
    ASSERT_EQ(settings.users.size(), 1u);
    const user_account& demo = settings.find_account("demo");
    EXPECT_EQ(demo.password, "");
    EXPECT_EQ(demo.home, "/two");
    EXPECT_FALSE(demo.can_write);
}

TEST(server_settings_users, missing_name_is_reported_before_missing_home) {
    EXPECT_EQ(load_error("[user]\nhome=/h\n"), "No user name specified");
    EXPECT_EQ(load_error("[user]\nname=demo\n"), "No user home directory specified");
    EXPECT_EQ(load_error("[user]\npassword=x\n"), "No user name specified");
    // A bad section after a good one still fails the load.
    EXPECT_EQ(load_error("[user]\nname=a\nhome=/a\n[user]\nname=b\n"), "No user home directory specified");
    // Keys before any header do not make an account.
    EXPECT_TRUE(from_text("name=x\nhome=/x\n").users.empty());
}

TEST(server_settings_users, account_queries) {
    const server_settings settings = from_text(
        "[user]\nname=writer\npassword=pw\nhome=/w\ncan-write=1\n"
        "[user]\nname=open\npassword=\nhome=/o\n");

    EXPECT_TRUE(settings.password_required("writer"));
    EXPECT_FALSE(settings.password_required("open"));
    EXPECT_TRUE(settings.password_required("nobody"));
    EXPECT_TRUE(settings.password_required("Open"));

    EXPECT_TRUE(settings.check_password("writer", "pw"));
    EXPECT_FALSE(settings.check_password("writer", "PW"));
    EXPECT_FALSE(settings.check_password("writer", "pw "));
    EXPECT_FALSE(settings.check_password("writer", ""));
    EXPECT_TRUE(settings.check_password("open", ""));
    EXPECT_FALSE(settings.check_password("open", "x"));
    EXPECT_FALSE(settings.check_password("nobody", ""));

    EXPECT_TRUE(settings.can_write("writer"));
    EXPECT_FALSE(settings.can_write("open"));
    EXPECT_EQ(settings.home_directory("writer"), "/w");
    EXPECT_EQ(settings.home_directory("open"), "/o");

    for (const char* unknown : {"nobody", "WRITER", " writer"}) {
        try {
            settings.find_account(unknown);
            ADD_FAILURE() << unknown;
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "No such user");
        }
        EXPECT_THROW(settings.can_write(unknown), std::runtime_error);
        EXPECT_THROW(settings.home_directory(unknown), std::runtime_error);
    }
}

// Loading through the command line: "-config" names a file in a scratch folder.
using server_settings_file = test::scratch_test;

TEST_F(server_settings_file, loads_the_file_named_by_the_first_config_argument) {
    put("Config.ini", "[config]\r\nlisten-port=2121\r\n[user]\r\nname=demo\r\nhome=/d\r\n");
    const std::string text = at("Config.ini");
    const char* argv[] = {"tarvex", "-config", text.c_str(), "-config", "elsewhere.ini"};
    const server_settings settings(5, argv);
    EXPECT_EQ(settings.listen_port, 2121u);
    EXPECT_EQ(settings.home_directory("demo"), "/d");
    EXPECT_EQ(settings.argc, 5);
    EXPECT_EQ(settings.argv, argv);
}

}  // namespace
}  // namespace ZT
