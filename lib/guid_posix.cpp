#include "lib/guid.h"

#include <cerrno>
#include <cstddef>
#include <stdexcept>
#include <sys/random.h>

namespace ZT {

void new_guid(std::uint8_t (&bytes)[16]) {
    std::size_t filled = 0;
    while (filled < sizeof bytes) {
        const ssize_t got = ::getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("CoCreateGuid failure");
        }
        filled += static_cast<std::size_t>(got);
    }
    // Version 4 in the high nibble of Data3 (little-endian, so byte 7), and the
    // variant 10 in the top bits of Data4[0] (byte 8).
    bytes[7] = static_cast<std::uint8_t>((bytes[7] & 0x0F) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
}

}  // namespace ZT
