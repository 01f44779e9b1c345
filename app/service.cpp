#include "app/service.h"

#include <cstring>

namespace ZT {

bool service_start_requested(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-service") == 0) return true;
        // The argument after "-config" is a path, whatever it reads.
        if (std::strcmp(argv[i], "-config") == 0) ++i;
    }
    return false;
}

}  // namespace ZT
