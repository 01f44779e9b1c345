#include "ftp/ftp_session.h"

#include "ftp/client_text.h"
#include "ftp/replies.h"
#include "lib/codepage.h"
#include "lib/text.h"

#include <atomic>
#include <stdexcept>

namespace ZT {

ftp_session::ftp_session(ftp_server& server_, control_channel& channel_, connection_security& security_,
                         std::string user_)
    : channel(channel_),
      security(security_),
      user(std::move(user_)),
      server(server_),
      session_number(server_.next_session_number()),
      allow_local_codepage(server_.local_codepage_allowed()) {}

std::string ftp_session::decode_argument(const std::string& argument) const {
    if (utf8) {
        if (!is_valid_utf8(argument)) throw std::runtime_error("Invalid UTF-8 encoding");
        return argument;
    }
    if (allow_local_codepage) return local_to_utf8(argument);
    return percent_unescape(argument);
}

std::string ftp_session::encode_for_client(std::string text) const {
    if (utf8) return text;
    if (allow_local_codepage) return utf8_to_local(text);
    return percent_escape(std::move(text));
}

std::string ftp_session::resolve_argument(const std::string& argument) const {
    return server.resolve_path(user, current_directory, decode_argument(argument));
}

void ftp_session::log(const std::string& message) { server.log_line(format_uint(session_number) + "> " + message); }

std::string next_farewell() {
    static std::atomic<std::uint32_t> counter{0};
    static const char* const farewells[] = {"Goodbye", "Sayonara", "AUF WIEDERSEHEN", "On the turning away..."};
    return farewells[counter.fetch_add(1) % 4];
}

bool ftp_session::serve_command() {
    const command_line command = channel.read_command();
    if (command.verb.empty()) return false;  // an empty line ends the session silently
    if (command.verb == "REIN") {
        rein_requested = true;
        return false;
    }
    if (command.verb == "QUIT") {
        channel.send_reply(reply::farewell(next_farewell()));
        return false;
    }
    bool known = true;
    dispatch_command(command.verb, command.argument, known);
    if (!known) {
        std::string line = "Unknown command: " + command.verb;
        if (!command.argument.empty()) line += " " + command.argument;
        log(line);
        channel.send_reply(reply::unknown_command);
    }
    return true;
}

}  // namespace ZT
