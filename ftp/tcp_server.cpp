#include "ftp/tcp_server.h"

#include "lib/abort.h"
#include "lib/errors.h"
#include "lib/socket_api.h"

#include <utility>

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
    listener_.prepare_listener();
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
            // A client that reset its connection after the wait gives nothing:
            // wait for the next one at once.
            accepted = listener_.accept_pending();
            if (accepted == invalid_socket) continue;
        } catch (const network_error&) {
            // A moment without free descriptors must not make the server deaf;
            // the short pause keeps a lasting shortage from spinning a core.
            sleep(0.05);
            continue;
        }
        // Owned from here on, so that a failure below (no memory for the shared
        // object, no worker) closes the connection instead of leaking it.
        tcp_socket connection(accepted);
        try {
            handle_connection(std::make_shared<tcp_socket>(std::move(connection)));
        } catch (const user_abort&) {
            throw;
        } catch (const std::exception&) {
            // No object or worker thread could be made for it (the system is out
            // of memory, threads or descriptors): that connection is closed, the
            // next one may be luckier.
            sleep(0.05);
        }
    }
}

void tcp_server::handle_connection(std::shared_ptr<tcp_socket> connection) {
    const worker_pool::task session = [this, connection] { run_session(*connection); };
    if (pool_.try_enqueue(session) || !make_room()) return;
    const std::uint64_t until = tick_count_ms() + static_cast<std::uint64_t>(room_wait_seconds * 1000);
    while (!pool_.try_enqueue(session)) {
        const std::uint64_t now = tick_count_ms();
        if (now >= until || !pool_.wait_for_room(static_cast<double>(until - now) * 0.001)) return;
    }
}

}  // namespace ZT
