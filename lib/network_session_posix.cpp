#include "lib/network_session.h"

#include <csignal>
#include <mutex>

namespace ZT {

network_session::network_session() {
    // Sends use MSG_NOSIGNAL; ignoring the signal also covers every other write
    // to a connection or pipe whose reader has gone.
    static std::once_flag ignored;
    std::call_once(ignored, [] { std::signal(SIGPIPE, SIG_IGN); });
}

network_session::~network_session() = default;

}  // namespace ZT
