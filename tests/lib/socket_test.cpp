#include "lib/abort.h"
#include "lib/errors.h"
#include "lib/event.h"
#include "lib/network_address.h"
#include "lib/network_session.h"
#include "lib/socket_handle.h"
#include "lib/tcp_socket.h"
#include "lib/text.h"

#include "socket_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

namespace ZT {
namespace {

using test::connect_pair;
using test::connection_pair;
using test::listener;
using test::loopback;

address_info loopback_info(std::uint16_t port) {
    address_info info;
    info.family = AF_INET;
    info.socket_type = SOCK_STREAM;
    info.protocol = IPPROTO_TCP;
    info.address = loopback(port);
    return info;
}

// A port that is bound but not listening: connects to it are refused. Holding
// the socket keeps anyone else from taking the port during the test.
struct refusing_port {
    socket_handle socket;
    std::uint16_t port = 0;

    refusing_port() {
        socket.open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        socket.bind(loopback(0));
        port = socket.local_address().port();
    }
};

// Runs `action` and checks that it throws exactly network_error (not one of the
// derived timeout or connect errors).
void expect_plain_network_error(const std::function<void()>& action) {
    try {
        action();
        ADD_FAILURE() << "no exception";
    } catch (const network_error& e) {
        EXPECT_EQ(typeid(e), typeid(network_error));
    }
}

class socket_fixture : public ::testing::Test {
protected:
    network_session session_;
};

using socket_address = socket_fixture;
using socket_resolve = socket_fixture;
using socket_handles = socket_fixture;
using socket_stream = socket_fixture;
using socket_wait = socket_fixture;
using socket_connect = socket_fixture;

// --- addresses -------------------------------------------------------------

TEST_F(socket_address, ipv4_fields_round_trip_in_network_order) {
    network_address any = network_address::any_ipv4();
    EXPECT_EQ(any.size(), 16u);
    EXPECT_EQ(any.family(), AF_INET);
    EXPECT_EQ(any.port(), 0);
    EXPECT_EQ(any.ipv4(), 0u);

    any.set_port(2121);
    EXPECT_EQ(any.port(), 2121);
    sockaddr_in raw;
    std::memcpy(&raw, any.data(), sizeof raw);
    EXPECT_EQ(raw.sin_family, AF_INET);
    EXPECT_EQ(raw.sin_port, htons(2121));
    EXPECT_EQ(any.to_text().host, "0.0.0.0");
    EXPECT_EQ(any.to_text().port, "2121");

    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_port = htons(65535);
    source.sin_addr.s_addr = htonl(0xC0A8010A);
    const network_address address = network_address::from_sockaddr_in(source);
    EXPECT_EQ(address.ipv4(), 0xC0A8010Au);
    EXPECT_EQ(address.to_text().host, "192.168.1.10");
    EXPECT_EQ(address.to_text().port, "65535");

    network_address copy = address;
    EXPECT_EQ(copy, address);
    copy.set_port(21);
    EXPECT_EQ(copy.to_text().port, "21");
    EXPECT_FALSE(copy == address);
    network_address assigned;
    assigned.assign(source);
    EXPECT_EQ(assigned, address);
}

TEST_F(socket_address, ipv4_accessors_demand_sixteen_bytes) {
    sockaddr_in6 six{};
    six.sin6_family = AF_INET6;
    six.sin6_port = htons(21);
    network_address v6(&six, sizeof six);
    ASSERT_EQ(v6.size(), 28u);
    EXPECT_EQ(v6.family(), AF_INET6);
    EXPECT_THROW(v6.port(), invalid_input);
    EXPECT_THROW(v6.set_port(21), invalid_input);
    EXPECT_THROW(v6.ipv4(), invalid_input);
    EXPECT_THROW(v6.to_text(), invalid_input);

    network_address empty;
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(empty.family(), AF_UNSPEC);
    EXPECT_THROW(empty.port(), invalid_input);

    // The first 16 bytes of a longer address are not an IPv4 address either.
    const network_address truncated(&six, 15);
    EXPECT_THROW(truncated.ipv4(), invalid_input);
}

// --- name resolution -------------------------------------------------------

TEST_F(socket_resolve, numeric_host_gives_a_tcp_ipv4_record) {
    const std::vector<address_info> answers = resolve_address("127.0.0.1", "2121", AF_INET);
    ASSERT_FALSE(answers.empty());
    for (const address_info& answer : answers) {
        EXPECT_EQ(answer.family, AF_INET);
        EXPECT_EQ(answer.socket_type, SOCK_STREAM);
        EXPECT_EQ(answer.protocol, IPPROTO_TCP);
        EXPECT_EQ(answer.address.ipv4(), 0x7F000001u);
        EXPECT_EQ(answer.address.port(), 2121);
    }
}

TEST_F(socket_resolve, failure_is_a_plain_network_error) {
    expect_plain_network_error([] { resolve_address("127.0.0.1", "no-such-service-name", AF_INET); });
}

TEST_F(socket_resolve, temporary_failure_is_retried_a_bounded_number_of_times) {
    int calls = 0;
    EXPECT_EQ(resolve_with_retry([&] { return ++calls < 3 ? EAI_AGAIN : 0; }, 0.001), 0);
    EXPECT_EQ(calls, 3);

    calls = 0;
    EXPECT_EQ(resolve_with_retry([&] { ++calls; return EAI_AGAIN; }, 0.001), EAI_AGAIN);
    EXPECT_EQ(calls, resolve_attempts);

    // Only the temporary failure is tried again.
    calls = 0;
    EXPECT_EQ(resolve_with_retry([&] { ++calls; return EAI_NONAME; }, 0.001), EAI_NONAME);
    EXPECT_EQ(calls, 1);
}

TEST_F(socket_resolve, retries_pause_and_the_pause_is_abortable) {
    int calls = 0;
    const auto always_again = [&] {
        ++calls;
        return EAI_AGAIN;
    };
    const std::uint64_t start = tick_count_ms();
    resolve_with_retry(always_again, 0.02);
    // Nine pauses of 20 ms between ten tries: the loop does not spin.
    EXPECT_GE(tick_count_ms() - start, 150u);

    event_object abort_event;
    abort_event.set();
    abort_event_scope scope(&abort_event);
    calls = 0;
    EXPECT_THROW(resolve_with_retry(always_again, 0.02), user_abort);
    EXPECT_EQ(calls, 1);
    EXPECT_THROW(resolve_address("127.0.0.1", "21", AF_INET), user_abort);
}

// --- socket handles --------------------------------------------------------

TEST_F(socket_handles, bind_listen_accept) {
    socket_handle unbound;
    unbound.open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    expect_plain_network_error([&] { unbound.bind(network_address()); });

    listener l;
    const network_address local = l.socket.local_address();
    EXPECT_EQ(local.ipv4(), 0x7F000001u);
    EXPECT_NE(local.port(), 0);
    // Nothing pending: accept fails instead of blocking.
    expect_plain_network_error([&] { l.socket.accept(); });

    connection_pair pair = connect_pair(l);
    EXPECT_EQ(pair.server.handle().peer_address(), pair.client.handle().local_address());
    EXPECT_NO_THROW(pair.server.handle().set_no_delay());
}

TEST_F(socket_handles, move_transfers_the_socket_and_close_is_idempotent) {
    socket_handle first;
    first.open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    first.set_timeout(7);
    const socket_t native = first.native();

    socket_handle second(std::move(first));
    EXPECT_FALSE(first.is_open());
    EXPECT_TRUE(second.is_open());
    EXPECT_EQ(second.native(), native);
    EXPECT_EQ(second.timeout(), 7);

    socket_handle third;
    third = std::move(second);
    EXPECT_FALSE(second.is_open());
    EXPECT_EQ(third.native(), native);

    third.close();
    EXPECT_FALSE(third.is_open());
    EXPECT_NO_THROW(third.close());
    EXPECT_NO_THROW(third.shutdown(shutdown_both));
    EXPECT_EQ(third.timeout(), 7);  // kept for the next open
}

// --- streams ---------------------------------------------------------------

TEST_F(socket_stream, read_returns_what_came_before_the_peer_closed) {
    listener l;
    const char ten[] = "0123456789";
    {
        connection_pair pair = connect_pair(l);
        pair.server.write(ten, 10);
        pair.server.close();
        char buffer[100];
        EXPECT_EQ(pair.client.read(buffer, sizeof buffer), 10u);
        EXPECT_EQ(std::string(buffer, 10), ten);
        EXPECT_EQ(pair.client.read(buffer, sizeof buffer), 0u);
    }
    {
        connection_pair pair = connect_pair(l);
        pair.server.write(ten, 10);
        pair.server.close();
        char buffer[100];
        EXPECT_THROW(pair.client.read_exact(buffer, sizeof buffer), invalid_input);
    }
}

TEST_F(socket_stream, small_reads_leave_what_they_took_ahead_to_the_next_reader) {
    listener l;
    connection_pair pair = connect_pair(l);
    std::string payload(10000, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7);
    const std::string sent = "NOOP\r\nRETR x\r\n" + payload;
    pair.server.write(sent.data(), sent.size());
    pair.server.close();

    // Byte by byte up to a line feed, as the command reader does.
    auto line = [&] {
        std::string text;
        for (char c = 0; c != '\n';) {
            EXPECT_EQ(pair.client.read(&c, 1), 1u);
            text += c;
        }
        return text;
    };
    EXPECT_EQ(line(), "NOOP\r\n");
    EXPECT_TRUE(pair.client.poll_readable());
    EXPECT_EQ(line(), "RETR x\r\n");
    // A large read then gets every following byte, those taken ahead first.
    std::string rest(payload.size() + 10, '\0');
    EXPECT_EQ(pair.client.read(rest.data(), rest.size()), payload.size());
    rest.resize(payload.size());
    EXPECT_EQ(rest, payload);
    char byte;
    EXPECT_EQ(pair.client.read(&byte, 1), 0u);
}

TEST_F(socket_stream, end_of_data_after_both_directions_closed) {
    listener l;
    connection_pair pair = connect_pair(l);
    pair.client.shutdown(shutdown_send);
    char buffer[10];
    EXPECT_EQ(pair.server.read(buffer, sizeof buffer), 0u);
    pair.server.close();
    // Both directions are now closed at the client: still end of data, not an error.
    EXPECT_TRUE(pair.client.poll_readable());
    EXPECT_EQ(pair.client.read(buffer, sizeof buffer), 0u);
}

TEST_F(socket_stream, large_writes_arrive_whole_in_bounded_pieces) {
    listener l;
    connection_pair pair = connect_pair(l);
    std::string data(300000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);

    const std::size_t first = pair.server.write_some(data.data(), data.size());
    EXPECT_GT(first, 0u);
    EXPECT_LE(first, max_send_piece);

    std::atomic<bool> writer_failed{false};
    std::thread writer([&] {
        try {
            pair.server.write(data.data() + first, data.size() - first);
            pair.server.close();
        } catch (...) {
            writer_failed = true;
        }
    });
    std::string received(data.size() + 1, '\0');
    std::size_t count = 0;
    EXPECT_NO_THROW(count = pair.client.read(received.data(), received.size()));
    writer.join();
    EXPECT_FALSE(writer_failed);
    ASSERT_EQ(count, data.size());
    received.resize(count);
    EXPECT_TRUE(received == data);
}

TEST_F(socket_stream, closed_socket_does_nothing_on_close_and_fails_io) {
    tcp_socket never_opened;
    EXPECT_NO_THROW(never_opened.close());
    EXPECT_FALSE(never_opened.is_open());

    listener l;
    connection_pair pair = connect_pair(l);
    pair.client.close();
    EXPECT_FALSE(pair.client.is_open());
    EXPECT_NO_THROW(pair.client.close());
    EXPECT_NO_THROW(pair.client.shutdown(shutdown_both));

    char buffer[4];
    // A wait on a closed socket is an error at once, not a timeout.
    expect_plain_network_error([&] { pair.client.wait_readable(); });
    expect_plain_network_error([&] { pair.client.read_some(buffer, sizeof buffer); });
    expect_plain_network_error([&] { pair.client.write("x", 1); });
    // The peer sees the end of data.
    EXPECT_EQ(pair.server.read(buffer, sizeof buffer), 0u);
}

// --- waits -----------------------------------------------------------------

TEST_F(socket_wait, reports_only_the_conditions_asked_for) {
    listener l;
    connection_pair pair = connect_pair(l);
    char byte;
    EXPECT_FALSE(pair.client.poll_readable());
    EXPECT_EQ(pair.client.read_some(&byte, 1), 0u);  // nothing yet is not end of data
    EXPECT_TRUE(pair.client.poll_writable());
    EXPECT_EQ(pair.client.handle().wait(false, true), socket_handle::writable);

    pair.server.write("x", 1);
    EXPECT_EQ(pair.client.handle().wait(true, false), socket_handle::readable);
    EXPECT_EQ(pair.client.handle().wait(true, true), socket_handle::readable | socket_handle::writable);
    EXPECT_EQ(pair.client.read_some(&byte, 1), 1u);
    EXPECT_EQ(byte, 'x');
}

TEST_F(socket_wait, silent_peer_times_out_with_or_without_abort_event) {
    listener l;
    connection_pair pair = connect_pair(l);
    pair.client.set_timeout(0.2);
    char byte;

    std::uint64_t start = tick_count_ms();
    EXPECT_THROW(pair.client.wait_readable(), network_error_timeout);
    std::uint64_t elapsed = tick_count_ms() - start;
    EXPECT_GE(elapsed, 150u);
    EXPECT_LT(elapsed, 2000u);

    // With an abort event installed the wait runs in slices; the limit is the same.
    event_object abort_event;
    abort_event_scope scope(&abort_event);
    start = tick_count_ms();
    EXPECT_THROW(pair.client.read(&byte, 1), network_error_timeout);
    elapsed = tick_count_ms() - start;
    EXPECT_GE(elapsed, 150u);
    EXPECT_LT(elapsed, 2000u);
}

TEST_F(socket_wait, abort_event_set_during_a_wait_ends_it_promptly) {
    listener l;
    connection_pair pair = connect_pair(l);
    event_object abort_event;
    std::atomic<std::uint64_t> set_at{0};
    std::thread setter([&] {
        sleep(0.1);
        set_at = tick_count_ms();
        abort_event.set();
    });
    std::uint64_t ended_at = 0;
    {
        abort_event_scope scope(&abort_event);
        EXPECT_THROW(pair.client.wait_readable(), user_abort);  // the timeout is 5 s
        ended_at = tick_count_ms();
    }
    setter.join();
    ASSERT_NE(set_at.load(), 0u);
    EXPECT_LT(ended_at - set_at.load(), 1000u);
}

TEST_F(socket_wait, set_abort_event_wins_over_ready_data) {
    listener l;
    connection_pair pair = connect_pair(l);
    pair.server.write("abc", 3);
    pair.client.wait_readable();

    event_object abort_event;
    abort_event.set();
    abort_event_scope scope(&abort_event);
    EXPECT_THROW(pair.client.wait_readable(), user_abort);
    EXPECT_THROW(pair.client.poll_readable(), user_abort);
}

// --- connecting ------------------------------------------------------------

TEST_F(socket_connect, a_refusing_address_does_not_stop_the_next) {
    listener l;
    refusing_port refused;
    // The order is shuffled at random; enough rounds meet the refusing address
    // first many times over.
    for (const bool refused_first : {true, false}) {
        for (int round = 0; round < 6; ++round) {
            std::vector<address_info> candidates{loopback_info(refused.port), loopback_info(l.port)};
            if (!refused_first) std::swap(candidates[0], candidates[1]);
            tcp_socket client;
            client.set_timeout(5);
            ASSERT_NO_THROW(connect_to_any(client, candidates)) << refused_first << " " << round;
            EXPECT_EQ(client.handle().timeout(), 5);
            tcp_socket server = l.accept_one();
            EXPECT_EQ(server.handle().peer_address(), client.handle().local_address());
        }
    }

    // A name that resolves through the system, with whatever addresses it has.
    tcp_socket client;
    client.set_timeout(5);
    ASSERT_NO_THROW(connect_to_host(client, "localhost", format_uint(l.port)));
    tcp_socket server = l.accept_one();
    client.write("ping", 4);
    char buffer[4];
    server.read_exact(buffer, 4);
    EXPECT_EQ(std::string(buffer, 4), "ping");
}

TEST_F(socket_connect, refused_everywhere_is_a_connect_error) {
    refusing_port refused;
    tcp_socket client;
    client.set_timeout(5);
    EXPECT_THROW(connect_to_host(client, "127.0.0.1", format_uint(refused.port)), network_error_connect);
    EXPECT_FALSE(client.is_open());
    EXPECT_THROW(connect_to_any(client, {}), network_error_connect);
}

TEST_F(socket_connect, records_of_other_families_are_never_tried) {
    listener l;
    address_info foreign = loopback_info(l.port);
    foreign.family = 1;  // AF_UNIX on both platforms
    address_info unknown = loopback_info(l.port);
    unknown.family = 99;
    tcp_socket client;
    client.set_timeout(5);
    EXPECT_THROW(connect_to_any(client, {foreign, unknown}), network_error_connect);
    EXPECT_FALSE(client.is_open());
    EXPECT_FALSE(l.has_pending_connection());

    // Not even the abort check before an attempt is reached.
    event_object abort_event;
    abort_event.set();
    abort_event_scope scope(&abort_event);
    EXPECT_THROW(connect_to_any(client, {foreign}), network_error_connect);
}

TEST_F(socket_connect, resolution_failure_is_a_connect_error) {
    tcp_socket client;
    EXPECT_THROW(connect_to_host(client, "127.0.0.1", "no-such-service-name"), network_error_connect);
}

TEST_F(socket_connect, abort_passes_through_unchanged) {
    listener l;
    event_object abort_event;
    abort_event.set();
    abort_event_scope scope(&abort_event);
    tcp_socket client;
    client.set_timeout(5);
    EXPECT_THROW(connect_to_host(client, "127.0.0.1", format_uint(l.port)), user_abort);
    EXPECT_THROW(connect_to_any(client, {loopback_info(l.port)}), user_abort);
    EXPECT_FALSE(client.is_open());
}

TEST_F(socket_connect, tls_is_refused_before_connecting) {
    listener l;
    tcp_socket client;
    client.set_timeout(5);
    try {
        client.connect("127.0.0.1", format_uint(l.port), true);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "SSL not supported");
    }
    EXPECT_FALSE(client.is_open());
    EXPECT_FALSE(l.has_pending_connection());

    client.connect("127.0.0.1", format_uint(l.port));
    EXPECT_TRUE(client.is_open());
    EXPECT_NO_THROW(l.accept_one());
}

}  // namespace
}  // namespace ZT
