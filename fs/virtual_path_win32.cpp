#include "fs/virtual_path.h"

namespace ZT {

char native_separator_char() {
    return '\\';
}

bool native_names_may_hold_colon() {
    return false;
}

}  // namespace ZT
