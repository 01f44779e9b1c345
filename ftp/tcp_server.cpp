#include "ftp/tcp_server.h"

#include "lib/abort.h"
#include "lib/errors.h"
#include "lib/socket_api.h"

namespace ZT {

tcp_server::tcp_server(std::uint32_t concurrency) : pool_(thread_priority_lowest, concurrency) {}

tcp_server::~tcp_server() { stop_serving(); }

void tcp_server::stop_serving() {
    accept_thread_.stop();
    listener_.close();
    pool_.abort_all();
}

void tcp_server::listen(const network_address& address) {
    accept_thread_.stop();
    on_listen(address);
    listener_.close();
    listener_.open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    listener_.set_nonblocking();
    listener_.allow_rebinding();
    configure_listen_socket(listener_);
    listener_.bind(address);
    listener_.listen();
    accept_thread_.start(thread_priority_lowest, [this] { accept_loop(); });
}

void tcp_server::accept_loop() {
    for (;;) {
        // Ends with user_abort when the server stops.
        listener_.wait(true, false);
        socket_t accepted;
        try {
            accepted = listener_.accept();
        } catch (const network_error&) {
            // A client that reset its connection after the wait, or a moment
            // without free descriptors: neither may make the server deaf. The
            // short pause keeps a lasting shortage from spinning a core.
            sleep(0.05);
            continue;
        }
        try {
            handle_connection(std::make_shared<tcp_socket>(accepted));
        } catch (const user_abort&) {
            throw;
        } catch (const std::exception&) {
            // No worker thread could be started for it (the system is out of
            // threads or descriptors): that connection is closed, the next one
            // may be luckier.
            sleep(0.05);
        }
    }
}

void tcp_server::handle_connection(std::shared_ptr<tcp_socket> connection) {
    pool_.try_enqueue([this, connection] { run_session(*connection); });
}

}  // namespace ZT
