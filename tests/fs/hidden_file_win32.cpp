#include "hidden_file.h"

#include <fstream>
#include <windows.h>

namespace ZT::test {

std::string create_hidden_file(const std::filesystem::path& folder) {
    const std::filesystem::path path = folder / "secret";
    std::ofstream(path) << "hidden";
    SetFileAttributesW(path.wstring().c_str(), FILE_ATTRIBUTE_HIDDEN);
    return "secret";
}

}  // namespace ZT::test
