#include "ftp/control_channel.h"

#include "lib/errors.h"
#include "lib/text.h"

namespace ZT {

command_line split_command(const std::string& line) {
    command_line command;
    const std::string::size_type space = line.find(' ');
    std::string verb = space == std::string::npos ? line : line.substr(0, space);
    if (space != std::string::npos) command.argument = line.substr(space + 1);
    verb.resize(verb.find('\0') == std::string::npos ? verb.size() : verb.find('\0'));
    command.verb = to_upper_ascii(verb);
    return command;
}

std::string control_channel::read_line() {
    std::string line;
    for (;;) {
        char byte;
        if (input_->read(&byte, 1) != 1) throw invalid_input();  // ended before the line feed
        if (byte == '\n') return line;
        if (byte == '\r') continue;
        if (line.size() >= max_command_line) throw invalid_input();
        line.push_back(byte);
    }
}

network_address control_channel::local_address() {
    if (!socket_) throw bug_check();
    if (local_address_.empty()) local_address_ = socket_->handle().local_address();
    return local_address_;
}

network_address control_channel::peer_address() {
    if (!socket_) throw bug_check();
    if (peer_address_.empty()) peer_address_ = socket_->handle().peer_address();
    return peer_address_;
}

void control_channel::send_reply(std::string_view text) {
    const std::string_view::size_type zero = text.find('\0');
    if (zero != std::string_view::npos) text = text.substr(0, zero);
    // A path or argument repeated in a reply may hold line breaks (a decoded
    // "%0a", a name on disk); sent as they are, they would end the reply early
    // and make the rest read as a reply of its own, so they travel escaped.
    std::string line;
    line.reserve(text.size() + 2);
    for (const char byte : text) {
        if (byte == '\r') {
            line += "%0D";
        } else if (byte == '\n') {
            line += "%0A";
        } else {
            line += byte;
        }
    }
    line += "\r\n";
    output_->write(line.data(), line.size());
}

}  // namespace ZT
