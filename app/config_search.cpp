#include "app/config_search.h"

#include "app/system_paths.h"
#include "fs/native_file.h"

#include <cstring>

namespace ZT {

namespace {

bool ends_in_separator(const std::string& path) {
    return !path.empty() && (path.back() == '/' || path.back() == '\\');
}

void append_separator(std::string& path) {
    if (!path.empty() && !ends_in_separator(path)) path += native_separator();
}

// An attribute query that fails for any reason counts as "no such file".
bool names_existing_file(const std::string& path) {
    try {
        return is_file(path);
    } catch (...) {
        return false;
    }
}

}  // namespace

std::string find_config_path(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-config") == 0) return i + 1 < argc ? argv[i + 1] : "";
    }

    const std::string program = program_file_path();
    const std::string::size_type last_separator = program.find_last_of("/\\");
    std::string beside_program =
        last_separator == std::string::npos ? std::string() : program.substr(0, last_separator + 1);
    append_separator(beside_program);
    beside_program += "Config.ini";
    if (names_existing_file(beside_program)) return beside_program;

    std::string in_app_data = application_data_folder();
    append_separator(in_app_data);
    in_app_data += "TARVEX";
    append_separator(in_app_data);
    return in_app_data + "Config.ini";
}

}  // namespace ZT
