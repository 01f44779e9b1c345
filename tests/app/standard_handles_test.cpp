#include "app/standard_handles.h"

#include <gtest/gtest.h>

namespace ZT {
namespace {

// Started from Explorer the program is alone on a console that closes with it;
// everywhere else the "Critical error" line stays readable without waiting, or
// nobody could ever press Enter.
TEST(standard_handles, only_a_console_of_its_own_that_is_its_input_and_is_seen_waits_for_enter) {
    struct row {
        const char* start;
        console_facts console;
        bool waits;
    };
    //                                                          processes input  window hidden display
    const row rows[] = {
        {"double-click in Explorer (or a terminal window)",      {1, true, true, false, true}, true},
        {"Explorer, input redirected",                           {1, false, true, false, true}, false},
        {"command prompt",                                       {2, true, true, false, true}, false},
        {"script run by a command prompt",                       {3, true, true, false, true}, false},
        {"command prompt, input redirected",                     {2, false, true, false, true}, false},
        {"service or detached task, no console",                 {0, false, false, false, true}, false},
        {"no console but a console input handle",                {0, true, false, false, true}, false},
        {"started hidden (SW_HIDE)",                             {1, true, true, true, true}, false},
        {"a console without a window (CREATE_NO_WINDOW)",        {1, true, false, false, true}, false},
        {"task run whether the user is logged on or not",        {1, true, true, false, false}, false},
    };
    for (const row& r : rows) EXPECT_EQ(waits_for_enter_after_failure(r.console), r.waits) << r.start;
}

}  // namespace
}  // namespace ZT
