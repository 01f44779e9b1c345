#include "ftp_client.h"

namespace ftpbench {

control_connection open_session(const options& o, const sockaddr_in& server) {
    control_connection c(server, o.timeout);
    c.log_in(o.user, o.password);
    c.expect("TYPE I", {200});
    return c;
}

std::optional<std::uint64_t> remote_size(control_connection& c, const std::string& path) {
    return parse_size_reply(c.command("SIZE " + path));
}

std::uint64_t download(control_connection& c, const std::string& path, std::vector<char>& buffer) {
    socket_fd data = c.open_passive();
    c.expect("RETR " + path, {1});
    const std::uint64_t bytes = receive_to_end(data.get(), buffer);
    data.reset();
    c.expect_reply("RETR " + path, {2});
    return bytes;
}

void upload(control_connection& c, const std::string& path, const std::vector<char>& pattern, std::uint64_t count) {
    socket_fd data = c.open_passive();
    c.expect("STOR " + path, {1});
    send_pattern(data.get(), pattern, count);
    ::shutdown(data.get(), SHUT_WR);
    c.expect_reply("STOR " + path, {2});
}

std::uint64_t listing(control_connection& c, const std::string& command, std::vector<char>& buffer) {
    socket_fd data = c.open_passive();
    c.expect(command, {1});
    std::uint64_t lines = 0;
    receive_to_end(data.get(), buffer, &lines);
    data.reset();
    c.expect_reply(command, {2});
    return lines;
}

}  // namespace ftpbench
