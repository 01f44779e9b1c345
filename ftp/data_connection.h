// How a session prepares its next data connection: PASV opens a listener and
// announces it, PORT stores the client's address text for the transfer to
// connect to. Opening the connection itself is the transfer engine's.
#pragma once

#include <string>

namespace ZT {

class ftp_session;

// Binds a new passive listener on the address the client reached, trying the
// configured ports in order, and sends the 227 reply; "503 Internal Error" when
// no port can be bound (no listener stays open then). An unresolvable passive
// address, a failure to read the listener's address or a control connection
// that is not IPv4 throw.
void open_passive_listener(ftp_session& session);

// Closes any passive listener, stores the argument unchecked as the PORT text
// and answers "200 PORT command successful".
void store_port_address(ftp_session& session, const std::string& argument);

}  // namespace ZT
