#include "fs/device_name.h"

#include <gtest/gtest.h>

#include <string_view>

namespace ZT {
namespace {

struct device_row {
    std::string_view path;
    bool device;
};

TEST(device_name, final_component_against_the_windows_rule) {
    const device_row rows[] = {
        // The whole names, any case.
        {"CON", true}, {"con", true}, {"Aux", true}, {"pRn", true}, {"nul", true},
        {"CONIN$", true}, {"conout$", true}, {"Clock$", true},
        {"COM1", true}, {"com9", true}, {"COM0", true}, {"LPT1", true}, {"lpt0", true}, {"Lpt5", true},
        // The superscript digits count as digits; other non-ASCII text never matches.
        {"COM\xC2\xB9", true}, {"com\xC2\xB2.txt", true}, {"LPT\xC2\xB3", true},
        {"COM\xC2\xB4", false}, {"COM\xE2\x81\xB4", false}, {"CON\xC2\xA0", false}, {"\xEF\xBC\xA3ON", false},
        {"con\xC4\xB1n$", true},
        // An extension, several, or a stream name changes nothing.
        {"aux.dat", true}, {"nul.txt", true}, {"NUL.tar.gz", true}, {"com9.log", true}, {"lpt3.txt", true},
        {"con:stream", true}, {"nul:", true}, {"conin$.x", true},
        // Trailing spaces and dots go before the comparison; leading ones do not.
        {"con .txt", true}, {"aux   ", true}, {"nul.", true}, {"prn. .", true}, {"com1 .log", true},
        {" con", false}, {"_con", false}, {".con", false},
        // Only the final component counts, after "\", "/" or a drive's "X:".
        {"dir/AUX", true}, {"C:\\ftp\\aux.txt", true}, {"/home/ftp/sub/Lpt2.bin", true}, {"\\\\.\\CON", true},
        {"C:con", true}, {"d:NUL.txt", true}, {"dir/aux/", true}, {"C:\\ftp\\nul\\\\", true},
        {"con/x", false}, {"C:\\nul\\file.txt", false}, {"aux\\b", false}, {"C:", false}, {"C:\\", false},
        // Near misses.
        {"console", false}, {"auxiliary", false}, {"com", false}, {"com10", false}, {"comA", false},
        {"lpt", false}, {"lpt10", false}, {"nul_", false}, {"xcon", false}, {"a.con", false}, {"con_.txt", false},
        {"conin", false}, {"conout", false}, {"clock", false}, {"co n", false}, {"", false}, {"/", false},
        {".", false}, {"..", false},
    };
    for (const device_row& row : rows) EXPECT_EQ(names_windows_device(row.path), row.device) << '"' << row.path << '"';
}

TEST(device_name, components_of_only_dots_and_spaces) {
    const device_row rows[] = {
        {"C:\\ftp\\...\\x", true}, {"C:\\ftp\\.. \\x", true}, {"C:\\ftp\\. .", true},
        {"C:\\ftp\\ ", true}, {"/srv/home/..../f", true}, {"C:\\ftp\\..", true},
        {"C:\\ftp\\a..\\x", false}, {"C:\\ftp\\.hidden", false}, {"C:\\ftp\\\\x", false},
        {"C:\\ftp\\", false}, {"/srv/home/a b/f", false}, {"", false},
        {"\\\\?\\C:\\ftp\\f", false}, {"\\\\.\\pipe\\p", false}, {"\\\\?\\C:\\ftp\\..\\f", true},
    };
    for (const device_row& row : rows) {
        SCOPED_TRACE(std::string(row.path));
        EXPECT_EQ(has_dots_only_component(row.path), row.device);
    }
}

}  // namespace
}  // namespace ZT
