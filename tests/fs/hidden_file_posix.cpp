#include "hidden_file.h"

#include <fstream>

namespace ZT::test {

std::string create_hidden_file(const std::filesystem::path& folder) {
    std::ofstream(folder / ".secret") << "hidden";
    return ".secret";
}

}  // namespace ZT::test
