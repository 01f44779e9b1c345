// The FTP client: a control connection, and the sessions, transfers and
// listings made over it with passive data connections.
#pragma once

#include "basics.h"
#include "bench_text.h"
#include "options.h"
#include "sockets.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ftpbench {

// A logged-in (or freshly connected) control connection: commands out as one
// write each, replies in through a buffer.
class control_connection {
public:
    control_connection(const sockaddr_in& server, double timeout)
        : server_(server), timeout_(timeout), sock_(connect_to(server, timeout, true)) {}

    // The next complete reply. Throws bench_error when the server closes, the
    // timeout passes, or the text is not a reply.
    ftp_reply read_reply() {
        reply_assembler reply;
        while (!reply.add(read_line())) {
        }
        return reply.reply();
    }

    // Sends one command line (CR LF added).
    void send_command(std::string_view line) {
        std::string text(line);
        text += "\r\n";
        send_all(sock_.get(), text.data(), text.size());
    }

    // Sends the command and returns its reply.
    ftp_reply command(std::string_view line) {
        send_command(line);
        return read_reply();
    }

    // Sends the command; throws bench_error unless the reply code is one of
    // `accepted` (three-digit codes, or single digits for a whole class).
    ftp_reply expect(std::string_view line, std::initializer_list<int> accepted) {
        send_command(line);
        return expect_reply(line, accepted);
    }

    // Reads a reply for `what`; throws as expect does.
    ftp_reply expect_reply(std::string_view what, std::initializer_list<int> accepted) {
        ftp_reply reply;
        try {
            reply = read_reply();
        } catch (const bench_error& e) {
            throw bench_error(std::string(what) + ": " + e.what());
        }
        for (int code : accepted)
            if (code == reply.code || (code < 10 && reply.code / 100 == code)) return reply;
        throw bench_error(std::string(what) + ": " + reply.text);
    }

    // The greeting, then USER and, when asked for, PASS.
    void log_in(const std::string& user, const std::string& password) {
        expect_reply("greeting", {220});
        const ftp_reply reply = expect("USER " + user, {230, 331});
        if (reply.code == 331) {
            send_command("PASS " + password);
            expect_reply("PASS ****", {230, 202});
        }
    }

    // PASV, then a connection to the announced port at the control
    // connection's own address (the announced host is not used, so every data
    // connection stays on the address the caller chose).
    socket_fd open_passive() {
        const ftp_reply reply = expect("PASV", {227});
        sockaddr_in data = server_;
        data.sin_port = htons(parse_pasv_reply(reply.text).port);
        return connect_to(data, timeout_, false);
    }

    // QUIT, its reply, then the server's close (so that the server, not this
    // client, holds the closed connection's TIME_WAIT and ports do not run out).
    void quit() {
        expect("QUIT", {221});
        char byte;
        for (;;) {
            const ssize_t got = ::recv(sock_.get(), &byte, 1, 0);
            if (got == 0) break;
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) throw bench_error(system_error("waiting for the close after QUIT"));
            throw bench_error("data after the QUIT reply");
        }
        sock_.reset();
    }

private:
    std::string read_line() {
        for (;;) {
            const std::size_t end = buffer_.find('\n', start_);
            if (end != std::string::npos) {
                std::string line = buffer_.substr(start_, end - start_);
                start_ = end + 1;
                if (start_ == buffer_.size()) {
                    buffer_.clear();
                    start_ = 0;
                }
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return line;
            }
            if (buffer_.size() - start_ > max_reply_line) throw bench_error("reply line too long");
            char chunk[4096];
            const ssize_t got = ::recv(sock_.get(), chunk, sizeof chunk, 0);
            if (got == 0) throw bench_error("the server closed the control connection");
            if (got < 0) {
                if (errno == EINTR) continue;
                throw bench_error(system_error("receive on the control connection"));
            }
            buffer_.append(chunk, static_cast<std::size_t>(got));
        }
    }

    sockaddr_in server_;
    double timeout_;
    socket_fd sock_;
    std::string buffer_;
    std::size_t start_ = 0;
};

// The common start of a session: connect, log in, binary type.
control_connection open_session(const options& o, const sockaddr_in& server);

// The remote file's size, or nothing when the server does not tell.
std::optional<std::uint64_t> remote_size(control_connection& c, const std::string& path);

// One download to the end: PASV, RETR, the data, the final reply. Returns the bytes.
std::uint64_t download(control_connection& c, const std::string& path, std::vector<char>& buffer);

// One upload of `count` pattern bytes: PASV, STOR, the data, the client's
// close, the final reply.
void upload(control_connection& c, const std::string& path, const std::vector<char>& pattern, std::uint64_t count);

// One listing: PASV, the command, the text, the final reply. Returns the lines.
std::uint64_t listing(control_connection& c, const std::string& command, std::vector<char>& buffer);

}  // namespace ftpbench
