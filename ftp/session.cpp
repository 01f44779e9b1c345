// One control connection from greeting to close: the greeting, the login
// dialogue under its deadline, and the command loop of the logged-in session.
#include "ftp/ftp_server.h"
#include "ftp/ftp_session.h"
#include "ftp/replies.h"
#include "lib/abort.h"
#include "lib/errors.h"
#include "lib/timer.h"

#include <atomic>

namespace ZT {

namespace {

struct login_state {
    std::string user;
    bool quit = false;
    bool start_over = false;
};

// USER and PASS until logged in, QUIT or REIN. Arguments are used byte for byte.
void login_dialogue(ftp_server& server, control_channel& channel, login_state& state) {
    for (;;) {
        const command_line command = channel.read_command();
        if (command.verb == "QUIT") {
            state.quit = true;
            return;
        }
        if (command.verb == "REIN") {
            state.start_over = true;
            return;
        }
        if (command.verb == "USER") {
            state.user = command.argument;
            if (server.password_required(state.user)) {
                channel.send_reply(reply::password_required(state.user));
            } else if (server.check_password(state.user, "")) {
                return;
            } else {
                sleep(5.0);  // ends early with user_abort when the deadline passes
                channel.send_reply(reply::login_incorrect);
            }
        } else if (command.verb == "PASS") {
            if (!state.user.empty() && server.check_password(state.user, command.argument)) return;
            channel.send_reply(reply::login_incorrect);
        } else {
            channel.send_reply(reply::not_logged_in);
        }
    }
}

}  // namespace

std::string ftp_server::greeting_text() {
    static std::atomic<std::uint32_t> counter{0};
    return counter.fetch_add(1) % 2 == 0 ? "how are you gentlemen" : "all your base are belong to us";
}

void ftp_server::run_session(tcp_socket& connection) {
    connection.handle().set_no_delay();
    connection.handle().set_keep_alive();  // a client gone without closing fails a read within minutes
    control_channel channel(connection);
    for (;;) {
        // One deadline covers everything before login: the greeting (a client
        // that does not read its replies cannot hold the worker in a blocked
        // write) and every REIN before login (which cannot buy more time).
        login_state state;
        const bool in_time = run_with_deadline([&] {
            do {
                state = login_state();
                channel.send_reply(reply::greeting(greeting_text()));
                login_dialogue(*this, channel, state);
            } while (state.start_over);
        });
        if (!in_time) throw network_error_timeout();
        if (state.quit) return;

        channel.send_reply(reply::logged_in(state.user));
        ftp_session session(*this, channel, state.user);
        while (session.serve_command()) {
        }
        if (!session.rein_was_requested()) return;
    }
}

}  // namespace ZT
