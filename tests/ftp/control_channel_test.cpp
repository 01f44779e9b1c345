#include "ftp/control_channel.h"
#include "lib/errors.h"

#include <gtest/gtest.h>

#include <cstring>

namespace ZT {
namespace {

// An in-memory connection: reads come from `input`, writes are recorded one
// write call at a time.
class memory_connection : public readable_stream, public writable_stream {
public:
    explicit memory_connection(std::string input) : input_(std::move(input)) {}

    std::size_t read(void* buffer, std::size_t count) override {
        const std::size_t n = std::min(count, input_.size() - position_);
        std::memcpy(buffer, input_.data() + position_, n);
        position_ += n;
        ++reads;
        return n;
    }
    void write(const void* buffer, std::size_t count) override {
        writes.emplace_back(static_cast<const char*>(buffer), count);
    }
    std::size_t unread() const { return input_.size() - position_; }

    std::vector<std::string> writes;
    int reads = 0;

private:
    std::string input_;
    std::size_t position_ = 0;
};

command_line read_one(const std::string& bytes) {
    memory_connection connection(bytes);
    control_channel channel(connection, connection);
    return channel.read_command();
}

TEST(control_channel, line_ends_and_stray_carriage_returns) {
    EXPECT_EQ(read_one("NOOP\r\n").verb, "NOOP");
    EXPECT_EQ(read_one("NOOP\n").verb, "NOOP");
    EXPECT_EQ(read_one("NO\rOP\n").verb, "NOOP");
    EXPECT_EQ(read_one("noop\r\n").verb, "NOOP");
}

TEST(control_channel, verb_and_argument_split_at_the_first_space) {
    command_line c = read_one("retr File.TXT\r\n");
    EXPECT_EQ(c.verb, "RETR");
    EXPECT_EQ(c.argument, "File.TXT");
    c = read_one("CWD  a b \r\n");
    EXPECT_EQ(c.verb, "CWD");
    EXPECT_EQ(c.argument, " a b ");
    c = read_one(" USER demo\n");
    EXPECT_EQ(c.verb, "");
    EXPECT_EQ(c.argument, "USER demo");
    c = read_one("\r\n");
    EXPECT_EQ(c.verb, "");
    EXPECT_EQ(c.argument, "");
    c = read_one("STOR\ta\n");  // a tab is an ordinary byte
    EXPECT_EQ(c.verb, "STOR\tA");
    EXPECT_EQ(c.argument, "");
    // The verb ends at a zero byte; the argument keeps every byte.
    c = read_one(std::string("no\0op x\0y\n", 10));
    EXPECT_EQ(c.verb, "NO");
    EXPECT_EQ(c.argument, std::string("x\0y", 3));
}

TEST(control_channel, line_limit_is_1024_bytes_without_carriage_returns) {
    EXPECT_EQ(read_one(std::string(1024, 'A') + "\r\n").verb.size(), 1024u);
    EXPECT_EQ(read_one(std::string(512, 'A') + std::string(10, '\r') + std::string(512, 'A') + "\n").verb.size(),
              1024u);
    EXPECT_THROW(read_one(std::string(1025, 'A') + "\r\n"), invalid_input);
}

TEST(control_channel, connection_ending_before_the_line_feed) {
    EXPECT_THROW(read_one(""), invalid_input);
    EXPECT_THROW(read_one("NOOP"), invalid_input);
    EXPECT_THROW(read_one("NOOP\r"), invalid_input);
}

TEST(control_channel, never_reads_past_the_line_feed) {
    memory_connection connection("USER a\r\nraw data that belongs to nobody");
    control_channel channel(connection, connection);
    EXPECT_EQ(channel.read_command().argument, "a");
    EXPECT_EQ(connection.unread(), std::strlen("raw data that belongs to nobody"));
}

TEST(control_channel, consecutive_commands) {
    memory_connection connection("USER a\r\nPASS b\nQUIT\r\n");
    control_channel channel(connection, connection);
    EXPECT_EQ(channel.read_command().verb, "USER");
    EXPECT_EQ(channel.read_command().argument, "b");
    EXPECT_EQ(channel.read_command().verb, "QUIT");
    EXPECT_THROW(channel.read_command(), invalid_input);
}

TEST(control_channel, each_reply_is_one_write_ending_in_crlf) {
    memory_connection connection("");
    control_channel channel(connection, connection);
    channel.send_reply("211-Features");
    channel.send_reply(" UTF8");
    channel.send_reply("211 End");
    channel.send_reply(std::string("550 cut\0here", 12));
    ASSERT_EQ(connection.writes.size(), 4u);
    EXPECT_EQ(connection.writes[0], "211-Features\r\n");
    EXPECT_EQ(connection.writes[1], " UTF8\r\n");
    EXPECT_EQ(connection.writes[2], "211 End\r\n");
    EXPECT_EQ(connection.writes[3], "550 cut\r\n");
}

TEST(control_channel, line_breaks_inside_a_reply_are_escaped) {
    // A reply that repeats a path must stay one line, or a crafted name could
    // make the client read a second, forged reply.
    const struct {
        std::string text;
        const char* expected;
    } rows[] = {
        {"550 /\r\n227 Entering Passive Mode (10,0,0,9,1,2). cannot be listed",
         "550 /%0D%0A227 Entering Passive Mode (10,0,0,9,1,2). cannot be listed\r\n"},
        {"257 \"/a\nb\" is the current directory", "257 \"/a%0Ab\" is the current directory\r\n"},
        {"257 \"/a\rb\" created.", "257 \"/a%0Db\" created.\r\n"},
        {"550 \n\n\r\r", "550 %0A%0A%0D%0D\r\n"},
        {"250-Start of list for /%0a", "250-Start of list for /%0a\r\n"},  // a literal escape stays as it is
        {std::string("550 a\nb\0\nc", 10), "550 a%0Ab\r\n"},               // the zero byte still ends the text
    };
    for (const auto& r : rows) {
        memory_connection connection("");
        control_channel channel(connection, connection);
        channel.send_reply(r.text);
        ASSERT_EQ(connection.writes.size(), 1u);
        EXPECT_EQ(connection.writes[0], r.expected);
    }
}

}  // namespace
}  // namespace ZT
