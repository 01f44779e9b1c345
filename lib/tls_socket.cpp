#include "lib/tls_socket.h"

#include <algorithm>

namespace ZT {

void tls_record_tracker::feed(const void* bytes, std::size_t count) {
    const auto* next = static_cast<const std::uint8_t*>(bytes);
    while (count > 0) {
        if (body_left_ > 0) {
            const std::size_t taken = std::min(body_left_, count);
            body_left_ -= taken;
            next += taken;
            count -= taken;
            continue;
        }
        header_[header_seen_++] = *next++;
        --count;
        if (header_seen_ == header_size) {
            header_seen_ = 0;
            body_left_ = static_cast<std::size_t>(header_[3]) << 8 | header_[4];
        }
    }
}

}  // namespace ZT
