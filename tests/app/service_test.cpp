#include "app/service.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace ZT {
namespace {

// "-service" is a flag wherever it stands, except as the path after "-config".
TEST(service, the_flag_is_an_exact_argument_that_is_not_the_config_path) {
    const std::pair<std::vector<const char*>, bool> rows[] = {
        {{"tarvex.exe"}, false},
        {{"tarvex.exe", "-service", "-config", "C:\\TARVEX\\Config.ini"}, true},
        {{"tarvex.exe", "-config", "C:\\TARVEX\\Config.ini", "-service"}, true},
        {{"tarvex.exe", "-config", "-service"}, false},
        {{"tarvex.exe", "-Service"}, false},
    };
    for (const auto& [argv, requested] : rows)
        EXPECT_EQ(service_start_requested(static_cast<int>(argv.size()), argv.data()), requested) << argv.size();
}

}  // namespace
}  // namespace ZT
