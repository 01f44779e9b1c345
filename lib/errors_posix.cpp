#include "lib/errors.h"

#include <cerrno>

namespace ZT {

// errno values that matter to callers map to the Windows codes with the same
// meaning; everything else is an access error.
std::uint32_t last_file_error_code() {
    switch (errno) {
    case ENOENT:
    case ENOTDIR:
        return win_error::path_not_found;
    case EEXIST:
        return win_error::already_exists;
    case ENOTEMPTY:
        return win_error::dir_not_empty;
    default:
        return win_error::access_denied;
    }
}

void clear_last_file_error() { errno = 0; }

}  // namespace ZT
