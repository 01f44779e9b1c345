// The two system look-ups of the configuration search.
#pragma once

#include <string>

namespace ZT {

// The program file's own path (UTF-8). Throws "Error getting module file name".
std::string program_file_path();

// The per-user folder for application data (UTF-8): the application-data folder
// on Windows, the user's configuration folder on POSIX. Throws
// "Error getting appdata path".
std::string application_data_folder();

// The separator that the configuration search appends between folder and name.
char native_separator();

}  // namespace ZT
