// The networking guard: sockets may be used while one exists. On Windows it
// starts Windows Sockets and stops it again; on POSIX there is nothing to start,
// and it makes sure that a write to a closed connection never raises SIGPIPE.
#pragma once

namespace ZT {

class network_session {
public:
    network_session();  // failure to start throws bug_check
    ~network_session();
    network_session(const network_session&) = delete;
    network_session& operator=(const network_session&) = delete;
};

}  // namespace ZT
