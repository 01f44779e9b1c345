#include "fs/virtual_path.h"

#include "lib/errors.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace ZT {
namespace {

using namespace std::string_literals;

// --- the plain rule ---------------------------------------------------------

TEST(virtual_path_relative, merges_relative_arguments_with_current_directory) {
    EXPECT_EQ(resolve_relative_path("/pub", "../etc/x"), "/etc/x");
    EXPECT_EQ(resolve_relative_path("/a/b", "c"), "/a/b/c");
    EXPECT_EQ(resolve_relative_path("/a/b", "c/"), "/a/b/c");
    EXPECT_EQ(resolve_relative_path("/", "a//b/./c/../d"), "/a/b/d");
    EXPECT_EQ(resolve_relative_path("/", "a/b/../../c"), "/c");
    EXPECT_EQ(resolve_relative_path("/a/b", "."), "/a/b");
}

TEST(virtual_path_relative, never_climbs_above_root) {
    EXPECT_EQ(resolve_relative_path("/pub", "../../.."), "/");
    EXPECT_EQ(resolve_relative_path("/", ".."), "/");
    EXPECT_EQ(resolve_relative_path("/", "../../a"), "/a");
    EXPECT_EQ(resolve_relative_path("/a", "x/.."), "/a");
    EXPECT_EQ(resolve_relative_path("/a", ".."), "/");
}

TEST(virtual_path_relative, empty_argument_keeps_current_directory) {
    EXPECT_EQ(resolve_relative_path("/a/b", ""), "/a/b");
    EXPECT_EQ(resolve_relative_path("/", ""), "/");
}

TEST(virtual_path_relative, absolute_arguments_stay_as_written) {
    EXPECT_EQ(resolve_relative_path("/a", "/x/../y"), "/x/../y");
    EXPECT_EQ(resolve_relative_path("/a", "//x/./"), "//x/./");
    EXPECT_EQ(resolve_relative_path("/a", "/"), "/");
}

TEST(virtual_path_relative, backslashes_are_ordinary_bytes) {
    EXPECT_EQ(resolve_relative_path("/a/b", "c\\d"), "/a/b/c\\d");
    EXPECT_EQ(resolve_relative_path("/", "\\pub\\file"), "/\\pub\\file");
    EXPECT_EQ(resolve_relative_path("/", "C:\\x"), "/C:\\x");
}

// --- the configured server's rule ------------------------------------------

TEST(virtual_path_client, backslashes_become_slashes) {
    EXPECT_EQ(resolve_client_path("C:\\ftp", "/a/b", "c\\d"), "/a/b/c/d");
    EXPECT_EQ(resolve_client_path("C:\\ftp", "/a/b", "\\pub\\file"), "/pub/file");
    EXPECT_EQ(resolve_client_path("C:\\ftp", "/a/b", "..\\..\\..\\x"), "/x");
    // Converted before the absolute test, so the result is not normalised.
    EXPECT_EQ(resolve_client_path("C:\\ftp", "/", "\\x\\..\\y"), "/x/../y");
}

TEST(virtual_path_client, plain_rule_applies_after_conversion) {
    EXPECT_EQ(resolve_client_path("C:\\ftp", "/pub", "../etc/x"), "/etc/x");
    EXPECT_EQ(resolve_client_path("C:\\ftp", "/pub", "../../.."), "/");
    EXPECT_EQ(resolve_client_path("C:\\ftp", "/a/b", ""), "/a/b");
    EXPECT_EQ(resolve_client_path("C:\\ftp", "/a/b", "."), "/a/b");
    EXPECT_EQ(resolve_client_path("C:\\ftp", "/a", "/x/../y"), "/x/../y");
}

TEST(virtual_path_client, drive_letter_accepted_for_same_drive_root) {
    EXPECT_EQ(resolve_client_path("D:\\", "/pub", "d:\\data\\f.txt"), "/data/f.txt");
    EXPECT_EQ(resolve_client_path("D:\\", "/pub", "D:/data/f.txt"), "/data/f.txt");
    EXPECT_EQ(resolve_client_path("d:\\", "/pub", "D:\\x"), "/x");
    EXPECT_EQ(resolve_client_path("D:", "/pub", "d:/x"), "/x");
    EXPECT_EQ(resolve_client_path("D:\\", "/pub", "D:\\"), "/");
    // The remainder is absolute, so it is not normalised either.
    EXPECT_EQ(resolve_client_path("D:\\", "/", "D:\\a\\..\\b"), "/a/../b");
}

TEST(virtual_path_client, drive_letter_denied_for_other_homes_and_drives) {
    EXPECT_THROW(resolve_client_path("D:\\ftp", "/", "d:\\data\\f.txt"), denied);
    EXPECT_THROW(resolve_client_path("D:\\", "/", "C:/x"), denied);
    EXPECT_THROW(resolve_client_path("D:", "/", "c:\\x"), denied);
    EXPECT_THROW(resolve_client_path("D:/", "/", "D:/x"), denied);
    EXPECT_THROW(resolve_client_path("D:\\\\", "/", "D:/x"), denied);
    EXPECT_THROW(resolve_client_path("\\\\server\\share", "/", "D:/x"), denied);
    EXPECT_THROW(resolve_client_path("1:\\", "/", "D:/x"), denied);
    EXPECT_THROW(resolve_client_path("D", "/", "D:/x"), denied);
    EXPECT_THROW(resolve_client_path("", "/", "D:/x"), denied);
    // A POSIX home is never a drive root.
    EXPECT_THROW(resolve_client_path("/srv/ftp", "/", "D:/x"), denied);
    EXPECT_THROW(resolve_client_path("/", "/", "D:/x"), denied);
}

TEST(virtual_path_client, short_or_non_letter_forms_are_relative) {
    // Without a separator after the colon there is no drive form, and the home
    // is not consulted at all.
    EXPECT_EQ(resolve_client_path("/srv/ftp", "/", "C:"), "/C:");
    EXPECT_EQ(resolve_client_path("/srv/ftp", "/a", "C:x"), "/a/C:x");
    EXPECT_EQ(resolve_client_path("/srv/ftp", "/", "1:\\x"), "/1:/x");
    EXPECT_EQ(resolve_client_path("/srv/ftp", "/", "\xC3\xA9:/x"), "/\xC3\xA9:/x");
    EXPECT_FALSE(has_drive_letter_form("C:"));
    EXPECT_FALSE(has_drive_letter_form(":\\x"));
    EXPECT_TRUE(has_drive_letter_form("z:/"));
}

// --- mapping under the home ------------------------------------------------

TEST(virtual_path_native, maps_under_home) {
    EXPECT_EQ(to_native_path("C:\\ftp", "/", '\\'), "C:\\ftp\\");
    EXPECT_EQ(to_native_path("C:\\ftp", "/a/b", '\\'), "C:\\ftp\\a\\b");
    EXPECT_EQ(to_native_path("C:\\ftp\\", "/a", '\\'), "C:\\ftp\\a");
    EXPECT_EQ(to_native_path("C:\\ftp\\", "/", '\\'), "C:\\ftp\\");
    EXPECT_EQ(to_native_path("D:\\", "/data/f.txt", '\\'), "D:\\data\\f.txt");
    EXPECT_EQ(to_native_path("/srv/ftp", "/a/b", '/'), "/srv/ftp/a/b");
    EXPECT_EQ(to_native_path("/srv/ftp/", "/a", '/'), "/srv/ftp/a");
}

TEST(virtual_path_native, empty_pieces_collapse_and_trailing_slash_stays) {
    EXPECT_EQ(to_native_path("C:\\ftp", "//a", '\\'), "C:\\ftp\\a");
    EXPECT_EQ(to_native_path("C:\\ftp", "/a//b", '\\'), "C:\\ftp\\a\\b");
    EXPECT_EQ(to_native_path("C:\\ftp", "/a/", '\\'), "C:\\ftp\\a\\");
    EXPECT_EQ(to_native_path("C:\\ftp", "", '\\'), "C:\\ftp\\");
}

TEST(virtual_path_native, two_byte_drive_argument_maps_as_a_name) {
    const std::string resolved = resolve_client_path("C:\\ftp", "/", "C:");
    EXPECT_EQ(to_native_path("C:\\ftp", resolved, '\\'), "C:\\ftp\\C:");
}

TEST(virtual_path_native, refuses_dot_components) {
    const std::string resolved = resolve_client_path("C:\\ftp", "/a", "/x/../y");
    EXPECT_THROW(to_native_path("C:\\ftp", resolved, '\\'), invalid_input);
    EXPECT_THROW(to_native_path("C:\\ftp", "/..", '\\'), invalid_input);
    EXPECT_THROW(to_native_path("C:\\ftp", "/./a", '\\'), invalid_input);
    EXPECT_THROW(to_native_path("C:\\ftp", "/a/.", '\\'), invalid_input);
    EXPECT_THROW(to_native_path("/srv/ftp", "/../etc/passwd", '/'), invalid_input);
    // Names that merely contain dots are ordinary.
    EXPECT_EQ(to_native_path("C:\\ftp", "/.../.a/a..", '\\'), "C:\\ftp\\...\\.a\\a..");
}

TEST(virtual_path_native, refuses_control_bytes_and_backslashes) {
    EXPECT_THROW(to_native_path("C:\\ftp", "/a\\b", '\\'), invalid_input);
    EXPECT_THROW(to_native_path("C:\\ftp", "/\\..\\x", '\\'), invalid_input);
    // Refused on POSIX too, where it would otherwise be an ordinary byte.
    EXPECT_THROW(to_native_path("/srv/ftp", "/a\\b", '/'), invalid_input);
    EXPECT_THROW(to_native_path("C:\\ftp", "/a\x01", '\\'), invalid_input);
    EXPECT_THROW(to_native_path("C:\\ftp", "/a\tb", '\\'), invalid_input);
    EXPECT_THROW(to_native_path("C:\\ftp", "/a\x1F", '\\'), invalid_input);
    EXPECT_THROW(to_native_path("C:\\ftp", "/a\0b"s, '\\'), invalid_input);
    EXPECT_THROW(to_native_path("C:\\ftp", "/ok/a\nb", '\\'), invalid_input);
    // Space, DEL and UTF-8 sequences are allowed.
    EXPECT_EQ(to_native_path("C:\\ftp", "/a b\x7F/caf\xC3\xA9", '\\'), "C:\\ftp\\a b\x7F\\caf\xC3\xA9");
}

TEST(virtual_path_native, separator_is_the_platforms) {
    EXPECT_EQ(native_separator_char(), static_cast<char>(std::filesystem::path::preferred_separator));
}

// --- names for new files and directories -----------------------------------

TEST(virtual_path_names, reserved_words_refused_as_whole_names) {
    EXPECT_FALSE(is_allowed_name("/dir/NUL"));
    EXPECT_FALSE(is_allowed_name("/dir/Aux"));
    for (const char* word : {"con", "AUX", "Lst", "prN", "nul", "EOF", "inp", "oUt"}) {
        EXPECT_FALSE(is_allowed_name("/"s + word)) << word;
    }
    EXPECT_TRUE(is_allowed_name("/dir/nul.txt"));
    EXPECT_TRUE(is_allowed_name("/dir/console"));
    EXPECT_TRUE(is_allowed_name("/dir/xcon"));
}

TEST(virtual_path_names, trailing_dot_or_space_refused) {
    EXPECT_FALSE(is_allowed_name("/dir/name."));
    EXPECT_FALSE(is_allowed_name("/dir/name "));
    EXPECT_FALSE(is_allowed_name("/dir/.."));
    EXPECT_TRUE(is_allowed_name("/dir/.name"));
    EXPECT_TRUE(is_allowed_name("/dir/ name"));
    EXPECT_TRUE(is_allowed_name("/dir/a.b"));
}

TEST(virtual_path_names, forbidden_bytes_refused) {
    for (char c : std::string("\\|*?:<>\"")) {
        EXPECT_FALSE(is_allowed_name("/dir/a"s + c + "b")) << c;
        EXPECT_FALSE(is_allowed_name("/dir/"s + c)) << c;
    }
    // "/" only separates, so the piece after it is the one tested.
    EXPECT_TRUE(is_allowed_name("/dir/a/b"));
    EXPECT_TRUE(is_allowed_name("/dir/caf\xC3\xA9"));
}

TEST(virtual_path_names, last_non_empty_component_is_tested) {
    EXPECT_FALSE(is_allowed_name("/"));
    EXPECT_FALSE(is_allowed_name("///"));
    EXPECT_FALSE(is_allowed_name(""));
    EXPECT_TRUE(is_allowed_name("/a/b/"));
    EXPECT_FALSE(is_allowed_name("/a/nul/"));
    EXPECT_TRUE(is_allowed_name("/nul/b//"));
    EXPECT_TRUE(is_allowed_name("name"));
    EXPECT_FALSE(is_allowed_name("a:/b."));
}

TEST(virtual_path_home, only_paths_without_components_name_the_home) {
    for (const char* path : {"", "/", "//", "///"}) EXPECT_TRUE(names_home(path)) << path;
    for (const char* path : {"/a", "//a", "/a/", "a", "/.", "/..", "/ ", "\\"}) EXPECT_FALSE(names_home(path)) << path;
}

}  // namespace
}  // namespace ZT
