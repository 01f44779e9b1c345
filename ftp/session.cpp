// One control connection from greeting to close: the greeting, the login
// dialogue under its deadline, and the command loop of the logged-in session.
#include "ftp/connection_security.h"
#include "ftp/ftp_server.h"
#include "ftp/ftp_session.h"
#include "ftp/replies.h"
#include "lib/abort.h"
#include "lib/errors.h"
#include "lib/proxy_header.h"
#include "lib/timer.h"

#include <algorithm>
#include <atomic>
#include <optional>

namespace ZT {

namespace {

// The login dialogue's deadline, from the greeting on.
constexpr std::uint64_t login_deadline_ms = static_cast<std::uint64_t>(default_timer_interval * 1000);
// A USER that the empty password does not log in waits this long before its
// 530, as it always has; a longer pause earned by failures replaces it.
constexpr double refused_user_pause = 5.0;

struct login_state {
    std::string user;
    bool quit = false;
    bool start_over = false;
};

// What the dialogue works with besides its state.
struct login_context {
    ftp_server& server;
    control_channel& channel;
    connection_security& security;
    std::uint32_t address;  // the client's IPv4 address
    std::uint64_t deadline;  // tick_count_ms() at which the deadline passes
};

double seconds_left(const login_context& context) {
    const std::uint64_t now = tick_count_ms();
    return now >= context.deadline ? 0.0 : static_cast<double>(context.deadline - now) * 0.001;
}

// Runs `check`, a password check. Once even one more failure of the client's
// address would have to pause beyond the deadline, the session ends at once
// without a check: answering the guess (or ending only when it was wrong)
// would let the client guess again on a fresh connection at full speed. A
// login that succeeds forgets the address's failures.
template <typename Check>
bool password_accepted(const login_context& context, const Check& check) {
    const std::optional<double> pause = context.server.failed_logins().standing(context.address, tick_count_ms());
    if (pause && *pause > 0 && *pause > seconds_left(context)) throw network_error_timeout();
    if (!check()) return false;
    if (pause) context.server.failed_logins().clear(context.address);
    return true;
}

// "530 Login incorrect", after the pause that the failure earns the client's
// address, or `own_pause` when that is longer. A session whose earned pause
// would outlast its deadline ends at once without the reply.
void refuse_login(const login_context& context, double own_pause) {
    const double earned = context.server.failed_logins().add_failure(context.address, tick_count_ms());
    const double pause = std::max(earned, own_pause);
    if (earned > 0 && pause > seconds_left(context)) throw network_error_timeout();
    if (pause > 0) sleep(pause);  // ends early with user_abort when the deadline passes
    context.channel.send_reply(reply::login_incorrect);
}

// USER and PASS until logged in, QUIT or REIN. Arguments are used byte for byte.
void login_dialogue(const login_context& context, login_state& state) {
    for (;;) {
        const command_line command = context.channel.read_command();
        if (command.verb == "QUIT") {
            state.quit = true;
            return;
        }
        if (command.verb == "REIN") {
            state.start_over = true;
            return;
        }
        if ((command.verb == "USER" || command.verb == "PASS") && context.security.refuses_login()) {
            context.channel.send_reply(reply::login_needs_tls);
        } else if (command.verb == "USER") {
            state.user = command.argument;
            if (context.server.password_required(state.user)) {
                context.channel.send_reply(reply::password_required(state.user));
            } else if (password_accepted(context, [&] { return context.server.check_password(state.user, ""); })) {
                return;
            } else {
                refuse_login(context, refused_user_pause);
            }
        } else if (command.verb == "PASS") {
            // PASS before any USER names no account: it fails as a wrong one does.
            if (password_accepted(context, [&] {
                    return !state.user.empty() && context.server.check_password(state.user, command.argument);
                })) {
                return;
            }
            refuse_login(context, 0.0);
        } else if (!answer_security_command(context.security, context.channel, command, false)) {
            context.channel.send_reply(reply::not_logged_in);
        }
    }
}

}  // namespace

std::string ftp_server::greeting_text() {
    static std::atomic<std::uint32_t> counter{0};
    return counter.fetch_add(1) % 2 == 0 ? "how are you gentlemen" : "all your base are belong to us";
}

bool ftp_server::make_room() { return running_logins_.end_one(tick_count_ms()); }

void ftp_server::run_session(tcp_socket& connection) {
    connection.handle().set_no_delay();
    connection.handle().set_keep_alive();  // a client gone without closing fails a read within minutes
    std::uint32_t address = connection.handle().peer_address().ipv4();
    // A balancer's connection names its client in a header before anything
    // else, read within the first login deadline; one without a valid header
    // ends here without a reply.
    bool header_pending = is_balancer(address);
    control_channel channel(connection);
    connection_security security;
    security.connection = &connection;
    security.credentials = tls();
    security.required = tls_required();
    for (;;) {
        // One deadline covers everything before login: the greeting (a client
        // that does not read its replies cannot hold the worker in a blocked
        // write) and every REIN before login (which cannot buy more time).
        login_state state;
        const std::uint64_t deadline = tick_count_ms() + login_deadline_ms;
        const bool in_time = run_with_deadline([&] {
            if (header_pending) {
                if (const std::optional<proxied_client> client = read_proxy_header(connection)) {
                    address = client->address;
                    channel.set_peer_address(proxied_address(*client));
                }
                header_pending = false;
            }
            const login_context context{*this, channel, security, address, deadline};
            // Listed while it runs, so that a full server may end it (through the
            // deadline's own event) for a newcomer, as the deadline would.
            const login_dialogues::entry listed(running_logins_, address, *current_abort_event());
            do {
                state = login_state();
                channel.send_reply(reply::greeting(greeting_text()));
                login_dialogue(context, state);
            } while (state.start_over);
        });
        if (!in_time) throw network_error_timeout();
        if (state.quit) return;

        channel.send_reply(reply::logged_in(state.user));
        ftp_session session(*this, channel, security, state.user);
        while (session.serve_command()) {
        }
        if (!session.rein_was_requested()) return;
    }
}

}  // namespace ZT
