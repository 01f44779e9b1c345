#include "app/service.h"

#include <gtest/gtest.h>

#include <vector>

namespace ZT {
namespace {

// "-service" is a flag wherever it stands, except as the path after "-config".
TEST(service, the_flag_is_an_exact_argument_that_is_not_the_config_path) {
    struct row {
        std::vector<const char*> arguments;
        bool requested;
    };
    const row rows[] = {
        {{"tarvex.exe"}, false},
        {{"tarvex.exe", "-service"}, true},
        {{"tarvex.exe", "-service", "-config", "C:\\TARVEX\\Config.ini"}, true},
        {{"tarvex.exe", "-config", "C:\\TARVEX\\Config.ini", "-service"}, true},
        {{"tarvex.exe", "-config", "-service"}, false},
        {{"tarvex.exe", "-config"}, false},
        {{"tarvex.exe", "-Service"}, false},
        {{"tarvex.exe", "/service"}, false},
        {{"tarvex.exe", "-service=yes"}, false},
        {{"-service"}, false},
    };
    for (const row& r : rows) {
        std::string line;
        for (const char* argument : r.arguments) line += std::string(argument) + " ";
        EXPECT_EQ(service_start_requested(static_cast<int>(r.arguments.size()), r.arguments.data()), r.requested)
            << line;
    }
}

}  // namespace
}  // namespace ZT
