// Where the configuration file is looked for, first match wins: the argument
// after "-config", "Config.ini" beside the program, then TARVEX/Config.ini in
// the per-user application-data folder.
#pragma once

#include <string>

namespace ZT {

std::string find_config_path(int argc, const char* const* argv);

}  // namespace ZT
