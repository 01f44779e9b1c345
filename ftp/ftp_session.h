// The state of one logged-in control connection, and the conversions of path
// arguments and listing texts between the client's encoding and UTF-8.
#pragma once

#include "ftp/control_channel.h"
#include "ftp/ftp_server.h"

#include <cstdint>
#include <string>

namespace ZT {

class ftp_session {
public:
    ftp_session(ftp_server& server, control_channel& channel, std::string user);

    // Handles one command after login. Returns false when the command loop ends
    // (an empty line, QUIT or REIN).
    bool serve_command();

    // Runs a command other than QUIT and REIN. Sets `known` to false, and sends
    // nothing, for a verb it does not know.
    void dispatch_command(const std::string& verb, const std::string& argument, bool& known);

    // Client bytes to UTF-8: unchanged with UTF8 on (refusing invalid UTF-8 with
    // "Invalid UTF-8 encoding"), through the local code page when allowed,
    // otherwise percent-unescaped.
    std::string decode_argument(const std::string& argument) const;
    // UTF-8 listing text to client bytes, by the same three encodings.
    std::string encode_for_client(const std::string& text) const;
    // A path argument as a normalised virtual path.
    std::string resolve_argument(const std::string& argument) const;

    void log(const std::string& message);

    bool rein_requested = false;
    control_channel& channel;
    const std::string user;
    bool utf8 = false;
    std::string current_directory = "/";
    ftp_server& server;
    std::string transfer_type = "I";
    std::uint64_t rest_offset = 0;
    const std::uint32_t session_number;
    const bool allow_local_codepage;
};

// The reply text after "221 " for the next QUIT of the process: the four
// farewells in turn.
std::string next_farewell();

}  // namespace ZT
