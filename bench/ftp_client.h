// The FTP client: a control connection, and the sessions, transfers and
// listings made over it with passive data connections.
#pragma once

#include "basics.h"
#include "bench_text.h"
#include "options.h"
#include "sockets.h"
#include "tls_layer.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ftpbench {

// A logged-in (or freshly connected) control connection: commands out as one
// write each, replies in through a buffer. With `tls` the login starts with
// AUTH TLS, and from then on commands and replies go through TLS.
class control_connection {
public:
    control_connection(const sockaddr_in& server, double timeout, bool tls)
        : server_(server), timeout_(timeout), sock_(connect_to(server, timeout, true)), tls_wanted_(tls) {}

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
        if (tls_)
            tls_->send_all(text.data(), text.size());
        else
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

    // The greeting, AUTH TLS and the handshake when the connection was made
    // for TLS, then USER and, when asked for, PASS.
    void log_in(const std::string& user, const std::string& password) {
        expect_reply("greeting", {220});
        if (tls_wanted_) {
            expect("AUTH TLS", {234});
            if (!buffer_.empty()) throw bench_error("AUTH TLS: more text came before the handshake");
            tls_ = std::make_unique<tls_connection>(sock_.get(), nullptr, "control connection");
        }
        const ftp_reply reply = expect("USER " + user, {230, 331});
        if (reply.code == 331) {
            send_command("PASS " + password);
            expect_reply("PASS ****", {230, 202});
        }
    }

    // PBSZ 0 and PROT P: every data connection from now on is a TLS
    // connection (data_tls).
    void protect_data() {
        expect("PBSZ 0", {200});
        expect("PROT P", {200});
        protected_data_ = true;
    }

    // After PROT P, the TLS client over a data connection, offering this
    // connection's session for resumption; otherwise nothing.
    std::unique_ptr<tls_connection> data_tls(const socket_fd& data) const {
        if (!protected_data_) return nullptr;
        return std::make_unique<tls_connection>(data.get(), tls_.get(), "data connection");
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
    // client, holds the closed connection's TIME_WAIT and ports do not run out):
    // under TLS its close_notify first.
    void quit() {
        expect("QUIT", {221});
        char byte;
        if (tls_) {
            if (tls_->receive_some(&byte, 1) != 0) throw bench_error("data after the QUIT reply");
            tls_.reset();
        }
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
            buffer_.append(chunk, receive_some(chunk, sizeof chunk));
        }
    }

    std::size_t receive_some(char* data, std::size_t size) {
        if (tls_) {
            const std::size_t got = tls_->receive_some(data, size);
            if (got == 0) throw bench_error("the server ended TLS on the control connection");
            return got;
        }
        for (;;) {
            const ssize_t got = ::recv(sock_.get(), data, size, 0);
            if (got == 0) throw bench_error("the server closed the control connection");
            if (got > 0) return static_cast<std::size_t>(got);
            if (errno != EINTR) throw bench_error(system_error("receive on the control connection"));
        }
    }

    sockaddr_in server_;
    double timeout_;
    socket_fd sock_;
    bool tls_wanted_;
    std::unique_ptr<tls_connection> tls_;  // after AUTH TLS
    bool protected_data_ = false;          // after PROT P
    std::string buffer_;
    std::size_t start_ = 0;
};

// The common start of a session: connect, log in (with --tls: AUTH TLS
// before, PBSZ 0 and PROT P after), binary type.
control_connection open_session(const options& o, const sockaddr_in& server);

// The remote file's size, or nothing when the server does not tell.
std::optional<std::uint64_t> remote_size(control_connection& c, const std::string& path);

// One download to the end: PASV, RETR, the data, the final reply. Returns the bytes.
std::uint64_t download(control_connection& c, const std::string& path, std::vector<char>& buffer);

// One upload of `count` pattern bytes: PASV, STOR, the data, the client's
// close (under TLS its close_notify first), the final reply.
void upload(control_connection& c, const std::string& path, const std::vector<char>& pattern, std::uint64_t count);

// One listing: PASV, the command, the text, the final reply. Returns the lines.
std::uint64_t listing(control_connection& c, const std::string& command, std::vector<char>& buffer);

}  // namespace ftpbench
