// The settings record as the program builds it at start-up: the configuration
// file is found from the command line, its path printed, then loaded.
#include "app/config_search.h"
#include "app/console_line.h"
#include "config/ini_file.h"
#include "config/server_settings.h"

namespace ZT {

server_settings::server_settings(int argc_, const char* const* argv_) : argc(argc_), argv(argv_) {
    const std::string path = find_config_path(argc, argv);
    console_line("Attempting to load config from: ") << path;
    apply(load_ini_file(path));
}

}  // namespace ZT
