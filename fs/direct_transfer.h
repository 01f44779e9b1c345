// File data moved between a file and a plain TCP socket inside the system,
// without a copy through the program, where the system offers it: on Linux a
// download goes out with sendfile and an upload comes in with splice through a
// pipe. Windows offers nothing here (its TransmitFile serves at most two
// transfers at a time on client editions): transfers there copy through a
// buffer.
#pragma once

#include "fs/native_file.h"
#include "lib/socket_handle.h"

#include <cstdint>

namespace ZT {

// Sends `file` from `offset` to its end over the non-blocking `socket`, in
// pieces of at most max_send_piece bytes. Each piece is offered at once and,
// when the socket takes nothing, again after a wait for writability (the
// socket's timeout, abortable); the thread's abort event is checked before
// each. The end of the file ends it. A piece that the system fails to send is
// tried as a read of the file at its offset: when that read fails, the failure
// is the file's (mapped as a read's), otherwise the connection's
// (network_error). Advances `offset` by what was sent. False when the system
// cannot send this file this way: the caller sends the rest from `offset`.
bool send_file_directly(native_file& file, std::uint64_t& offset, socket_handle& socket);

// Receives from the non-blocking `socket` until the peer ends the data, into
// `file` at its position, in pieces of at most 128 KiB, waiting for each as a
// read does (the socket's timeout, abortable). A failure to receive is the
// connection's (network_error), a failure to store is the file's (mapped as a
// write's). False when the system cannot receive into this file this way (a
// file opened to append, a file system without it): what was received so far
// is in the file and its position after it, and the caller copies the rest.
bool receive_file_directly(socket_handle& socket, native_file& file);

}  // namespace ZT
