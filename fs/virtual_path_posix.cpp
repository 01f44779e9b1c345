#include "fs/virtual_path.h"

namespace ZT {

char native_separator_char() {
    return '/';
}

}  // namespace ZT
