#include "app/ini_file.h"

#include "fs/native_file.h"

namespace ZT {

ini_file load_ini_file(const std::string& path) {
    native_file file;
    file.open(path, file_mode::generic_read, file_mode::open_existing);
    return ini_file();
}

}  // namespace ZT
