#include "lib/network_session.h"

#include "lib/errors.h"
#include "lib/socket_api.h"

namespace ZT {

network_session::network_session() {
    WSADATA data;
    if (::WSAStartup(0x0202, &data) != 0) throw bug_check();
}

network_session::~network_session() { ::WSACleanup(); }

}  // namespace ZT
