// A generic TCP server: listens on one IPv4 address, accepts connections on its
// own thread and hands each one to a worker pool, where run_session serves it.
#pragma once

#include "lib/network_address.h"
#include "lib/socket_handle.h"
#include "lib/tcp_socket.h"
#include "lib/thread.h"
#include "lib/worker_pool.h"

#include <cstdint>
#include <memory>

namespace ZT {

class tcp_server {
public:
    tcp_server(const tcp_server&) = delete;
    tcp_server& operator=(const tcp_server&) = delete;

    // (Re)starts listening on a 16-byte IPv4 socket address and starts the
    // accept thread. Failures throw network_error.
    void listen(const network_address& address);

    // The listening socket's own address (with the port the system chose).
    network_address local_address() const { return listener_.local_address(); }

    // Stops serving: the accept thread, then the listening socket, then every
    // session (their waits end with user_abort) and queued connection. The most
    // derived class calls it first in its destructor, while everything that
    // sessions use is still whole. Calling it again does nothing.
    void stop_serving();

protected:
    explicit tcp_server(std::uint32_t concurrency);
    ~tcp_server();

    virtual void on_listen(const network_address&) {}
    virtual void configure_listen_socket(socket_handle&) {}
    // Queues a session task on the worker pool. When the pool is full it asks
    // make_room for a place and, when that ended a session, waits (abortably,
    // at most room_wait_seconds, on the accept thread) for its worker to let go.
    // Without room the task is dropped and with it the last reference to the
    // connection, which closes it without a reply.
    virtual void handle_connection(std::shared_ptr<tcp_socket> connection);
    virtual void run_session(tcp_socket& connection) = 0;
    // Called on the accept thread when a connection finds the pool full: may
    // end one running session so that the connection takes its place. True
    // when it did; the base ends none.
    virtual bool make_room() { return false; }

    // An ended session lets go of its worker as soon as its wait sees the abort
    // event (at once on POSIX, within socket_handle::abort_slice_seconds on
    // Windows); this leaves ample margin for a loaded machine while other
    // connections wait in the listen backlog.
    static constexpr double room_wait_seconds = 1.0;

private:
    void accept_loop();

    socket_handle listener_;
    thread_object accept_thread_;
    worker_pool pool_;
};

}  // namespace ZT
