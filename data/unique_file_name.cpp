#include "data/unique_file_name.h"

#include "lib/guid.h"
#include "lib/text.h"

namespace ZT {

std::string unique_file_name() {
    std::uint8_t bytes[16];
    new_guid(bytes);
    return format_hex_bytes(bytes);
}

}  // namespace ZT
