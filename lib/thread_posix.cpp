#include "lib/thread.h"

#include <pthread.h>

namespace ZT {

namespace {

// Linux keeps at most 15 bytes of a thread name (16 with the terminator).
constexpr std::size_t max_name_bytes = 15;

}  // namespace

// Priorities are a Windows matter; POSIX threads all run at the default.
void set_native_thread_priority(std::thread&, int) {}

void raise_priority_for_join(std::thread&) {}

void set_thread_name(const std::string& name) {
    std::size_t length = name.size();
    if (length > max_name_bytes) {
        length = max_name_bytes;
        // Never cut a UTF-8 sequence in half: back up over continuation bytes.
        while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
    }
    pthread_setname_np(pthread_self(), name.substr(0, length).c_str());
}

std::string current_thread_name() {
    char buffer[64] = {};
    if (pthread_getname_np(pthread_self(), buffer, sizeof buffer) != 0) return {};
    return buffer;
}

}  // namespace ZT
