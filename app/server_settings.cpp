#include "app/server_settings.h"

#include "app/config_search.h"
#include "app/console_line.h"
#include "app/ini_file.h"

#include <stdexcept>

namespace ZT {

server_settings::server_settings(int argc_, const char* const* argv_) : argc(argc_), argv(argv_) { load(); }

void server_settings::load() {
    const std::string path = find_config_path(argc, argv);
    console_line("Attempting to load config from: ") << path;
    const ini_file ini = load_ini_file(path);
    (void)ini;
}

}  // namespace ZT
