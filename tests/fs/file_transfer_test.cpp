// Downloads and uploads over a real loopback connection. Where the system
// moves the bytes itself (Linux) and where they are copied through the
// buffer (Windows, appends) the peer must see the same bytes, the same limits
// must hold, and a broken connection must stay told apart from a failed file.
#include "fs/file_operations.h"
#include "lib/errors.h"
#include "lib/network_session.h"

#include "file_support.h"
#include "socket_support.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace ZT {
namespace {

// Runs `body` on a thread of its own; join() waits for it and hands back what it threw.
class beside {
public:
    explicit beside(std::function<void()> body)
        : thread_([this, body = std::move(body)] {
              try {
                  body();
              } catch (...) {
                  failure_ = std::current_exception();
              }
          }) {}
    ~beside() {
        if (thread_.joinable()) thread_.join();
    }
    std::exception_ptr join() {
        thread_.join();
        return failure_;
    }

private:
    std::exception_ptr failure_;
    std::thread thread_;
};

// The name of what a thread of `beside` threw, as test::failure_of names it.
std::string kind_of(const std::exception_ptr& failure) {
    return test::failure_of([&] {
        if (failure) std::rethrow_exception(failure);
    });
}

// POSIX builds; the Windows build runs under Wine here, whose socket buffers
// grow instead of filling up.
bool posix_build() { return std::filesystem::path::preferred_separator == '/'; }

std::string receive_all(tcp_socket& connection) {
    std::string data;
    char buffer[65536];
    while (const std::size_t got = connection.read_available(buffer, sizeof buffer)) data.append(buffer, got);
    return data;
}

class file_transfers : public test::scratch_test {
protected:
    static std::string pattern(std::size_t size) {
        std::string text(size, '\0');
        for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>(i * 7 + i / 251);
        return text;
    }

    network_session session_;  // before any socket
    test::listener listener_;
};

TEST_F(file_transfers, downloads_send_the_file_from_each_offset) {
    struct row {
        std::size_t size;
        std::uint64_t offset;
    };
    const row rows[] = {
        {0, 0},          {1, 0},          {max_send_piece - 1, 0},   {max_send_piece, 0},
        {max_send_piece + 1, 0},          {transfer_piece * 3 + 5, 0}, {(8u << 20) + 3, max_send_piece + 1},
        {10, 9},         {10, 10},        {10, 1000000},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::to_string(r.size) + " bytes from " + std::to_string(r.offset));
        const std::string content = pattern(r.size);
        put("f", content);
        test::connection_pair pair = test::connect_pair(listener_);
        beside sender([&] {
            read_native_file(at("f"), pair.server, r.offset);
            pair.server.close();
        });
        const std::string got = receive_all(pair.client);
        EXPECT_EQ(kind_of(sender.join()), "none");
        EXPECT_TRUE(got == (r.offset < content.size() ? content.substr(r.offset) : std::string()));
    }
}

TEST_F(file_transfers, uploads_store_what_arrives_at_each_offset) {
    struct row {
        std::size_t size;
        std::uint64_t offset;
    };
    const std::string old = pattern(1000);
    const row rows[] = {
        {0, 0},   {1, 0},           {transfer_piece - 1, 0}, {transfer_piece, 0},
        {transfer_piece + 1, 0},    {(3u << 20) + 7, 0},     {transfer_piece + 1, 100},
        {0, 100}, {(3u << 20) + 7, append_offset},           {5, append_offset},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::to_string(r.size) + " bytes at " + std::to_string(r.offset));
        const std::string content = pattern(r.size + 3).substr(3);
        put("f", old);
        test::connection_pair pair = test::connect_pair(listener_);
        beside client([&] {
            pair.client.write(content.data(), content.size());
            pair.client.close();
        });
        write_native_file(at("f"), pair.server, r.offset);
        EXPECT_EQ(kind_of(client.join()), "none");
        const std::string kept = r.offset == append_offset ? old : old.substr(0, r.offset);
        EXPECT_TRUE(get("f") == kept + content) << get("f").size();
    }
}

TEST_F(file_transfers, a_silent_or_broken_peer_is_the_connections_failure) {
    const std::string big = pattern(32u << 20);  // more than both ends' socket buffers hold
    put("big", big);
    if (posix_build()) {
        // A client that never reads: the download waits for room within the limit.
        test::connection_pair pair = test::connect_pair(listener_);
        pair.server.set_timeout(0.3);
        beside sender([&] { read_native_file(at("big"), pair.server, 0); });
        EXPECT_EQ(kind_of(sender.join()), "network_error_timeout");
    }
    {
        // A client that resets the connection in the middle of a download.
        test::connection_pair pair = test::connect_pair(listener_);
        beside sender([&] { read_native_file(at("big"), pair.server, 0); });
        char some[4096];
        ASSERT_GT(pair.client.read_available(some, sizeof some), 0u);
        const linger reset{1, 0};
        ::setsockopt(pair.client.handle().native(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset),
                     sizeof reset);
        pair.client.close();
        EXPECT_EQ(kind_of(sender.join()), "network_error");
    }
    {
        // A client that stops sending in the middle of an upload.
        test::connection_pair pair = test::connect_pair(listener_);
        pair.server.set_timeout(0.3);
        pair.client.write(big.data(), 1000);
        EXPECT_THROW(write_native_file(at("upload"), pair.server, 0), network_error_timeout);
    }
}

TEST_F(file_transfers, a_failed_store_is_the_files_failure) {
    // Writes to /dev/full fail as a full disk does; only POSIX systems have it.
    if (!posix_build() || !std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    test::connection_pair pair = test::connect_pair(listener_);
    const std::string data = pattern(1u << 20);
    beside client([&] {
        try {
            pair.client.write(data.data(), data.size());
        } catch (const network_error&) {
            // the server may stop reading once its write failed
        }
        pair.client.close();
    });
    EXPECT_EQ(test::failure_of([&] { write_native_file("/dev/full", pair.server, 0); }), "file_access_error");
    pair.server.close();
    client.join();
}

}  // namespace
}  // namespace ZT
