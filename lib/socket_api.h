// The socket API as both platforms spell it. Winsock and BSD sockets differ only
// in names and types for what the library uses, so this one header hides the
// spelling; everything else about sockets is written once.
#pragma once

#ifdef _WIN32

#include <winsock2.h>
#include <ws2tcpip.h>

namespace ZT {

using socket_t = SOCKET;
using socket_length = int;
constexpr socket_t invalid_socket = INVALID_SOCKET;
constexpr int shutdown_receive = SD_RECEIVE;
constexpr int shutdown_send = SD_SEND;
constexpr int shutdown_both = SD_BOTH;
constexpr int send_flags = 0;

inline int close_socket(socket_t s) { return ::closesocket(s); }
inline int last_socket_error() { return ::WSAGetLastError(); }
inline bool is_would_block(int error) { return error == WSAEWOULDBLOCK; }
// An accept that found nothing, or a connection that went away before it was
// accepted: nothing is wrong with the listener. (Windows reports a reset;
// Wine, which looks up the peer inside accept, reports "not connected".)
inline bool is_lost_before_accept(int error) {
    return error == WSAEWOULDBLOCK || error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAENETRESET ||
           error == WSAENOTCONN || error == WSAEINTR;
}
// A non-blocking connect that goes on in the background.
inline bool is_connect_pending(int error) { return error == WSAEWOULDBLOCK; }
inline void set_socket_nonblocking(socket_t s) {
    u_long on = 1;
    ::ioctlsocket(s, FIONBIO, &on);
}
// A new socket in non-blocking mode.
inline socket_t open_socket(int family, int type, int protocol) {
    const socket_t s = ::socket(family, type, protocol);
    if (s != INVALID_SOCKET) set_socket_nonblocking(s);
    return s;
}
// An accepted socket, non-blocking as it takes that mode from its listener.
inline socket_t accept_socket(socket_t listener, sockaddr* peer, socket_length* length) {
    return ::accept(listener, peer, length);
}

}  // namespace ZT

#else

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ZT {

using socket_t = int;
using socket_length = socklen_t;
constexpr socket_t invalid_socket = -1;
constexpr int shutdown_receive = SHUT_RD;
constexpr int shutdown_send = SHUT_WR;
constexpr int shutdown_both = SHUT_RDWR;
// A send to a closed connection fails with EPIPE instead of raising SIGPIPE.
constexpr int send_flags = MSG_NOSIGNAL;

inline int close_socket(socket_t s) { return ::close(s); }
inline int last_socket_error() { return errno; }
// An interrupted call did nothing yet; it counts as "nothing available now".
inline bool is_would_block(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }
// An accept that found nothing, or a connection that went away (or failed on the
// network) before it was accepted: nothing is wrong with the listener.
inline bool is_lost_before_accept(int error) {
    return is_would_block(error) || error == ECONNABORTED || error == EPROTO || error == ENETDOWN ||
           error == ENETUNREACH || error == EHOSTUNREACH || error == EHOSTDOWN || error == ENONET;
}
// An interrupted connect goes on in the background like one in progress.
inline bool is_connect_pending(int error) { return error == EINPROGRESS || error == EINTR; }
// A socket has no other status flag that the library sets, so one call does.
// A new socket in non-blocking mode, in one call.
inline socket_t open_socket(int family, int type, int protocol) {
    return ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
}
// An accepted socket that is non-blocking from the start, as on Windows, where
// it takes that mode from the listener.
inline socket_t accept_socket(socket_t listener, sockaddr* peer, socket_length* length) {
    return ::accept4(listener, peer, length, SOCK_NONBLOCK | SOCK_CLOEXEC);
}

}  // namespace ZT

#endif
