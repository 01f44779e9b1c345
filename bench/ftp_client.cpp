#include "ftp_client.h"

#include <algorithm>

namespace ftpbench {

namespace {

// receive_to_end over TLS: up to the server's close_notify. The bytes come
// into `buffer` (decrypted, there is no discarding them unread).
std::uint64_t receive_to_end(tls_connection& tls, std::vector<char>& buffer, std::uint64_t* lines) {
    std::uint64_t total = 0;
    for (;;) {
        const std::size_t got = tls.receive_some(buffer.data(), buffer.size());
        if (got == 0) return total;
        total += got;
        if (lines) *lines += static_cast<std::uint64_t>(std::count(buffer.data(), buffer.data() + got, '\n'));
    }
}

// send_pattern over TLS.
void send_pattern(tls_connection& tls, const std::vector<char>& buffer, std::uint64_t count) {
    while (count > 0) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(count, buffer.size()));
        tls.send_all(buffer.data(), piece);
        count -= piece;
    }
}

}  // namespace

control_connection open_session(const options& o, const sockaddr_in& server) {
    control_connection c(server, o.timeout, o.tls);
    c.log_in(o.user, o.password);
    if (o.tls) c.protect_data();
    c.expect("TYPE I", {200});
    return c;
}

std::optional<std::uint64_t> remote_size(control_connection& c, const std::string& path) {
    return parse_size_reply(c.command("SIZE " + path));
}

// Each transfer's data connection is plain or TLS from its start to its end:
// the choice is made once, never inside the loops.

std::uint64_t download(control_connection& c, const std::string& path, std::vector<char>& buffer) {
    socket_fd data = c.open_passive();
    c.expect("RETR " + path, {1});
    std::uint64_t bytes;
    if (std::unique_ptr<tls_connection> tls = c.data_tls(data))
        bytes = receive_to_end(*tls, buffer, nullptr);
    else
        bytes = receive_to_end(data.get(), buffer);
    data.reset();
    c.expect_reply("RETR " + path, {2});
    return bytes;
}

void upload(control_connection& c, const std::string& path, const std::vector<char>& pattern, std::uint64_t count) {
    socket_fd data = c.open_passive();
    c.expect("STOR " + path, {1});
    if (std::unique_ptr<tls_connection> tls = c.data_tls(data)) {
        send_pattern(*tls, pattern, count);
        tls->close_notify();
    } else {
        send_pattern(data.get(), pattern, count);
    }
    ::shutdown(data.get(), SHUT_WR);
    c.expect_reply("STOR " + path, {2});
}

std::uint64_t listing(control_connection& c, const std::string& command, std::vector<char>& buffer) {
    socket_fd data = c.open_passive();
    c.expect(command, {1});
    std::uint64_t lines = 0;
    if (std::unique_ptr<tls_connection> tls = c.data_tls(data))
        receive_to_end(*tls, buffer, &lines);
    else
        receive_to_end(data.get(), buffer, &lines);
    data.reset();
    c.expect_reply(command, {2});
    return lines;
}

}  // namespace ftpbench
