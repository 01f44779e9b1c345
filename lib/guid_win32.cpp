#include "lib/guid.h"

#include <windows.h>
#include <objbase.h>

#include <cstring>
#include <stdexcept>

namespace ZT {

void new_guid(std::uint8_t (&bytes)[16]) {
    static_assert(sizeof(GUID) == sizeof bytes);
    GUID guid;
    if (FAILED(CoCreateGuid(&guid))) throw std::runtime_error("CoCreateGuid failure");
    std::memcpy(bytes, &guid, sizeof bytes);
}

}  // namespace ZT
