// The one way data move: transfer_data sends the preliminary reply, opens the
// data connection that PASV or PORT prepared, runs the command's body on it,
// closes it and sends "226 Transfer complete".
#pragma once

#include "lib/tcp_socket.h"

#include <functional>
#include <optional>
#include <string>

namespace ZT {

class ftp_session;

// Does the reading or writing of one transfer on the open data connection.
using data_transfer_body = std::function<void(tcp_socket& data)>;

// Whether the next transfer has a data connection to use.
bool data_connection_prepared(const ftp_session& session);

// Runs one transfer. The preliminary reply is `first_reply` when given, else
// "150 Opening BINARY|ASCII mode data connection for " + name. With neither a
// passive listener nor a PORT text it answers "503 Internal Error" and runs
// nothing.
//
// Passive mode uses the listener for exactly one connection, from the control
// connection's peer address only; a file error of the body is answered "550 No
// such file or directory" or "550 Access denied" instead of 226. Active mode
// connects only to the control connection's peer address, and clears the PORT
// text once the transfer completes. Everything else that fails (timeouts, a
// malformed PORT text, a failed connect, a network error, a server stop, a file
// error in active mode) leaves as an exception, which ends the session.
void transfer_data(ftp_session& session, const std::string& name, const std::optional<std::string>& first_reply,
                   const data_transfer_body& body);

}  // namespace ZT
