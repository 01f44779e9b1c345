#include "ftp/connection_security.h"

#include "ftp/replies.h"
#include "lib/text.h"

namespace ZT {

namespace {

void answer_auth(connection_security& security, control_channel& channel, const std::string& argument,
                 bool logged_in) {
    if (security.secured()) {
        channel.send_reply(reply::auth_already_done);
        return;
    }
    if (logged_in) {
        channel.send_reply(reply::auth_after_login);
        return;
    }
    // Some clients ask for SSL first; both name TLS today.
    const std::string mechanism = to_upper_ascii(argument);
    if (mechanism != "TLS" && mechanism != "SSL") {
        channel.send_reply(reply::auth_unknown_mechanism);
        return;
    }
    channel.send_reply(reply::auth_starting);
    security.control = std::make_unique<tls_socket>(*security.credentials, *security.connection);
    channel.use_streams(*security.control, *security.control);
}

void answer_prot(connection_security& security, control_channel& channel, const std::string& argument) {
    const std::string level = to_upper_ascii(argument);
    if (level == "P" || level == "C") {
        security.protect_data = level == "P";
        channel.send_reply(level == "P" ? reply::prot_private : reply::prot_clear);
    } else if (level == "S") {
        channel.send_reply(reply::prot_safe_refused);
    } else {
        channel.send_reply(reply::prot_level_unknown);
    }
}

}  // namespace

bool answer_security_command(connection_security& security, control_channel& channel, const command_line& command,
                             bool logged_in) {
    if (!security.offered()) return false;
    if (command.verb == "AUTH") {
        answer_auth(security, channel, command.argument, logged_in);
        return true;
    }
    if (!security.secured()) return false;
    if (command.verb == "PBSZ") {
        // Only 0 makes sense over TLS, and it is the answer to any size asked.
        channel.send_reply(reply::pbsz_accepted);
        return true;
    }
    if (command.verb == "PROT") {
        answer_prot(security, channel, command.argument);
        return true;
    }
    return false;
}

}  // namespace ZT
