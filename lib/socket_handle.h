// One system socket and its wait timeout. Every socket the server uses is
// non-blocking; the only place where a thread blocks on a socket is wait(), which
// honours both the timeout and the calling thread's abort event.
//
// Ownership and threads: a handle owns its socket alone (it moves, it does not
// copy) and closes it when it goes. One thread uses it at a time: the accept
// thread its listener, a session's worker its control connection, listener and
// data connection. The one exception is the server's own listener, which the
// stopping thread closes once the accept thread has ended.
#pragma once

#include "lib/network_address.h"
#include "lib/socket_api.h"

#include <cstdint>

namespace ZT {

class event_object;

// How TCP keep-alive finds a peer that has gone without closing (switched off,
// asleep, forgotten by a NAT box): after `idle_seconds` without a byte either
// way it sends a probe, repeats an unanswered one every `interval_seconds`, and
// fails the connection once `probes` of them went unanswered. A live peer's
// system answers each probe itself, so it may stay silent as long as it likes.
struct keep_alive_times {
    int idle_seconds;
    int interval_seconds;
    int probes;
};

// A gone peer is found about seven minutes after its last byte: 300 s of
// silence, then 4 probes 30 s apart.
inline constexpr keep_alive_times default_keep_alive{300, 30, 4};

class socket_handle {
public:
    // Bits of the result of wait().
    static constexpr int readable = 1;
    static constexpr int writable = 2;

    // With an abort event installed, waits on a system that cannot watch it
    // beside the socket (waits_watch_abort_event) are cut into slices of this
    // length and the abort event is checked before each one; so is every wait
    // with a zero limit.
    static constexpr double abort_slice_seconds = 0.05;

    socket_handle() = default;
    // Takes ownership of a socket (for example one returned by accept()).
    explicit socket_handle(socket_t adopted) noexcept : socket_(adopted) {}
    ~socket_handle();
    socket_handle(socket_handle&& other) noexcept;
    socket_handle& operator=(socket_handle&& other) noexcept;
    socket_handle(const socket_handle&) = delete;
    socket_handle& operator=(const socket_handle&) = delete;

    bool is_open() const { return socket_ != invalid_socket; }
    socket_t native() const { return socket_; }

    // Seconds that wait() may block; negative means no limit. A new handle has -1.
    // The timeout is kept across close() and open().
    double timeout() const { return timeout_; }
    void set_timeout(double seconds) { timeout_ = seconds; }

    // Each of these throws network_error when the system call fails.
    // A new non-blocking socket; closes any socket held first.
    void open(int family, int type, int protocol);
    void bind(const network_address& address);      // an empty address throws
    void listen();                                  // backlog SOMAXCONN
    // As bind and listen, answering false instead of throwing, whatever the
    // system's reason (the port in use, or one the system keeps for itself): for
    // a caller that tries one port after another. A socket whose bind failed can
    // bind again.
    bool try_bind(const network_address& address);
    bool try_listen();
    // The binding rules of the server's own listener, set before its bind.
    // POSIX: SO_REUSEADDR, so that a restarted server binds again at once while
    // connections of the last run linger in TIME_WAIT (a second listener on the
    // port is still refused). Windows: SO_EXCLUSIVEADDRUSE, so that no other
    // socket can bind the port while this one holds it, not even at a specific
    // address under a listener on the wildcard address, which Windows otherwise
    // allows to any program of the same account.
    void prepare_listener();
    // The binding rules of a passive data listener, which binds one specific
    // address. POSIX: as prepare_listener, so that a port whose last data
    // connection lingers in TIME_WAIT serves again at once. Windows: its default
    // rules, which already keep every other socket off that address and port.
    void prepare_passive_listener();
    void set_no_delay();                            // TCP_NODELAY on
    // TCP keep-alive on, with these times; a connection it finds dead fails
    // every wait and read after that with network_error. POSIX: SO_KEEPALIVE,
    // TCP_KEEPIDLE, TCP_KEEPINTVL, TCP_KEEPCNT. Windows: SO_KEEPALIVE and
    // SIO_KEEPALIVE_VALS, whose number of probes the system fixes at 10: the
    // interval is shortened so that the probes end when `probes` would have.
    void set_keep_alive(const keep_alive_times& times = default_keep_alive);
    // Accepts one pending connection. Any failure throws, including "nothing
    // pending": wait for readability first.
    socket_t accept();
    // As accept, but a connection that went away before it was accepted (or
    // nothing pending) gives invalid_socket instead of an error. Only a fault of
    // the listener or the system (out of descriptors, say) throws network_error.
    // `peer`, when given, receives the accepted connection's peer address.
    socket_t accept_pending(network_address* peer = nullptr);
    network_address local_address() const;
    network_address peer_address() const;

    // Starts a connect on an open non-blocking socket: true when it completed at
    // once, false when it goes on in the background (wait for writability, then
    // call check_connected). An empty address or any other failure throws.
    bool start_connect(const network_address& address);
    // Throws network_error when the socket holds a pending error (a refused or
    // failed background connect).
    void check_connected() const;
    // Waits, within the handle's timeout, for a connect that goes on in the
    // background to end, and then throws as check_connected does when it failed.
    // Throws as wait does otherwise.
    void wait_connected();

    // shutdown(how) with one of shutdown_receive/send/both; errors are ignored.
    void shutdown(int how);
    // Shuts down both directions (but for a listener) and closes; errors are
    // ignored. A closed handle stays closed: calling it again does nothing.
    void close();

    // Blocks until the socket is readable (want_read) or writable (want_write),
    // within the handle's timeout. Returns the readable/writable bits that came
    // true among those asked. Throws network_error_timeout when the time runs out,
    // network_error for an error condition on the socket (or a closed handle), and
    // user_abort when the thread's abort event is set.
    int wait(bool want_read, bool want_write);
    // As wait, with its own limit in seconds, and 0 instead of a timeout error.
    int try_wait(bool want_read, bool want_write, double seconds);

private:
    // Result bits of one system wait, besides readable and writable.
    static constexpr int slice_error = 4;  // error or exception condition
    static constexpr int slice_ready = 8;  // the system reported the socket ready
    static constexpr int slice_aborted = 16;  // the abort event's system object was signalled, the socket not ready

    // try_wait, also watching for a failed background connect when `connecting`.
    int wait_ready(bool want_read, bool want_write, bool connecting, double seconds);
    // One system wait (select, poll) of at most `microseconds`. Returns 0 when the
    // time passed with nothing ready, else slice_ready plus the condition bits.
    // An error condition is watched for while `connecting` at least. A failing
    // system call throws network_error. `abort`, when given, is watched too
    // (only where waits_watch_abort_event).
    static int wait_slice(socket_t socket, bool want_read, bool want_write, bool connecting,
                          const event_object* abort, std::uint64_t microseconds);
    // Whether wait_slice can watch an abort event beside the socket (POSIX: both
    // in one poll). Where it cannot, an abortable wait wakes every
    // abort_slice_seconds to look at the event.
    static bool waits_watch_abort_event();

    socket_t socket_ = invalid_socket;
    bool listening_ = false;  // listen succeeded
    double timeout_ = -1.0;
};

// For tests: the next `count` calls of try_listen (and listen) on the calling
// thread fail without asking the system, as a listen on a port that another
// socket took between bind and listen does. Not for production use.
void fail_listens_for_tests(int count);

}  // namespace ZT
