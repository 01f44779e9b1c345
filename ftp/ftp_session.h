// The state of one logged-in control connection, its command loop, and the
// conversions of path arguments and listing texts between the client's encoding
// and UTF-8.
//
// Ownership and threads: run_session makes a session on the stack of the worker
// thread that serves the connection, after login, and it dies with the command
// loop (a REIN makes a new one). Only that thread ever touches it, so nothing
// here is locked. The server and the control channel outlive it. Each mutable
// field has an owner that alone changes it: the command loop owns
// rein_requested; the data-connection pieces (PASV, PORT and the transfer
// engine) own passive_port, passive_socket and port_text, which are private to
// them; the state fields after them belong to the handlers named beside each.
#pragma once

#include "data/listing_format.h"
#include "data/passive_port_claims.h"
#include "ftp/connection_security.h"
#include "ftp/control_channel.h"
#include "ftp/data_connection.h"
#include "ftp/ftp_server.h"
#include "ftp/transfer_engine.h"
#include "lib/socket_handle.h"

#include <cstdint>
#include <string>

namespace ZT {

// The source of a pending rename: RNFR sets it, RNTO takes it. An empty path
// means that no rename is pending.
struct rename_source {
    std::string path;
    file_info info;
};

class ftp_session {
public:
    ftp_session(ftp_server& server, control_channel& channel, connection_security& security, std::string user);
    ftp_session(const ftp_session&) = delete;
    ftp_session& operator=(const ftp_session&) = delete;

    // Handles one command after login. Returns false when the command loop ends
    // (an empty line, QUIT or REIN).
    bool serve_command();

    // Runs a command other than QUIT and REIN through the command table. Sets
    // `known` to false, and sends nothing, for a verb (or OPTS option) it does
    // not know. Exceptions that the command does not answer pass on and end the
    // session.
    void dispatch_command(const std::string& verb, const std::string& argument, bool& known);

    // Client bytes to UTF-8: unchanged with UTF8 on (refusing invalid UTF-8 with
    // "Invalid UTF-8 encoding"), through the local code page when allowed,
    // otherwise percent-unescaped.
    std::string decode_argument(const std::string& argument) const;
    // UTF-8 listing text to client bytes, by the same three encodings.
    std::string encode_for_client(std::string text) const;
    // A path argument as a virtual path: decoded, then resolved against the
    // current directory. Passes on every failure of either step.
    std::string resolve_argument(const std::string& argument) const;

    void reply(std::string_view text) { channel.send_reply(text); }
    void log(const std::string& message);

    // Whether the command loop ended with REIN, so that a new login follows.
    bool rein_was_requested() const { return rein_requested; }

private:
    friend void open_passive_listener(ftp_session&);
    friend void store_port_address(ftp_session&, const std::string&);
    friend bool data_connection_prepared(const ftp_session&);
    friend void transfer_data(ftp_session&, const std::string&, const std::optional<std::string>&,
                              const data_transfer_body&);

    bool rein_requested = false;
    // The argument of the last PORT, as received; empty when none.
    std::string port_text;

public:
    control_channel& channel;
    connection_security& security;           // AUTH, PBSZ, PROT
    const std::string user;
    bool utf8 = false;                       // OPTS UTF8
    std::string current_directory = "/";    // CWD, CDUP

    ftp_server& server;

private:
    // The claim on the listener's port, released once the listener is closed
    // (declared first, so that it outlives the listener).
    passive_port_claim passive_port;
    // The listener of the last PASV, closed when none; it serves one transfer.
    socket_handle passive_socket;

public:
    std::string transfer_type = "I";         // TYPE
    rename_source rnfr_source;               // RNFR sets it, RNTO takes it
    std::uint64_t rest_offset = 0;           // REST sets it, RETR and STOR take it
    mlst_fact_set mlst_facts;                // OPTS MLST
    const std::uint32_t session_number;
    const bool allow_local_codepage;
};

// The reply text after "221 " for the next QUIT of the process: the four
// farewells in turn.
std::string next_farewell();

}  // namespace ZT
