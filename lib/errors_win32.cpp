#include "lib/errors.h"

#include <windows.h>

namespace ZT {

std::uint32_t last_file_error_code() { return GetLastError(); }

void clear_last_file_error() { SetLastError(0); }

}  // namespace ZT
