#include "app/system_paths.h"

#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace ZT {

std::string program_file_path() {
    std::vector<char> buffer(PATH_MAX);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0) throw std::runtime_error("Error getting module file name");
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

// $XDG_CONFIG_HOME when set and absolute, otherwise ~/.config with the home
// folder from the password database.
std::string application_data_folder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    const passwd* entry = ::getpwuid(::getuid());
    if (!entry || !entry->pw_dir || !entry->pw_dir[0]) throw std::runtime_error("Error getting appdata path");
    std::string folder = entry->pw_dir;
    if (folder.back() != '/') folder += '/';
    return folder + ".config";
}

char native_separator() { return '/'; }

}  // namespace ZT
