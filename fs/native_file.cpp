#include "fs/native_file.h"

#include "lib/errors.h"

namespace ZT {

bool is_file(const std::string& path) {
    try {
        return !get_file_info(path).is_directory;
    } catch (const file_not_found&) {
        return false;
    }
}

bool is_directory_path(const std::string& path) {
    try {
        return get_file_info(path).is_directory;
    } catch (const file_not_found&) {
        return false;
    }
}

}  // namespace ZT
