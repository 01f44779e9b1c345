#include "app/standard_handles.h"

#include <gtest/gtest.h>

namespace ZT {
namespace {

// Started from Explorer the program is alone on a console that closes with it;
// everywhere else the "Critical error" line stays readable without waiting.
TEST(standard_handles, only_a_console_of_its_own_that_is_its_input_waits_for_enter) {
    struct row {
        const char* start;
        unsigned long console_processes;
        bool input_is_console;
        bool waits;
    };
    const row rows[] = {
        {"double-click in Explorer", 1, true, true},
        {"Explorer, input redirected", 1, false, false},
        {"command prompt", 2, true, false},
        {"script run by a command prompt", 3, true, false},
        {"command prompt, input redirected", 2, false, false},
        {"scheduled task or service, no console", 0, false, false},
        {"no console but a console input handle", 0, true, false},
    };
    for (const row& r : rows) {
        EXPECT_EQ(waits_for_enter_after_failure(r.console_processes, r.input_is_console), r.waits) << r.start;
    }
}

}  // namespace
}  // namespace ZT
