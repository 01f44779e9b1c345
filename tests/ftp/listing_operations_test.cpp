// The listing texts built by the server base from a server that only supplies
// list_directory: hidden entries are tested again, and a LIST line whose time
// cannot be converted ends the text after the lines before it, whole. Then the
// memory kept between listings.
#include "ftp/ftp_server.h"
#include "ftp/listing_buffers.h"

#include "lib/errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace ZT {
namespace {

constexpr std::uint64_t t_2019_11_17_1830 = 132184890000000000;
constexpr std::uint64_t t_bad = 0x8000000000000000;

directory_entry entry(const std::string& name, std::uint64_t size, std::uint64_t time, bool hidden = false) {
    directory_entry result;
    result.name = name;
    result.info.size = size;
    result.info.last_write_time = time;
    result.info.is_hidden = hidden;
    return result;
}

// Lists the same four entries for every path; no other operation is reached.
class listed_server final : public ftp_server {
public:
    listed_server() : ftp_server(1) {}
    ~listed_server() { stop_serving(); }

    std::vector<directory_entry> list_directory(const std::string&, const std::string&) override {
        return {entry("a", 1, t_2019_11_17_1830), entry(".h", 2, t_2019_11_17_1830, true), entry("bad", 3, t_bad),
                entry("z", 4, 0)};
    }
    file_info stat_path(const std::string&, const std::string&) override { throw bug_check(); }
    void read_file(const std::string&, const std::string&, writable_stream&, std::uint64_t) override {
        throw bug_check();
    }
    void write_file(const std::string&, const std::string&, tcp_socket&, std::uint64_t) override {
        throw bug_check();
    }
    void rename_path(const std::string&, const std::string&, const std::string&) override { throw bug_check(); }
    void delete_file(const std::string&, const std::string&) override { throw bug_check(); }
    void remove_directory(const std::string&, const std::string&) override { throw bug_check(); }
    void create_directory(const std::string&, const std::string&) override { throw bug_check(); }
};

TEST(listing_operations, texts_built_from_a_list) {
    listed_server server;
    EXPECT_EQ(server.format_list_listing("u", "/sub"),
              "-rw-rw-rw-   1 0        0               1 Nov 17  2019 a\r\n");
    EXPECT_EQ(server.format_mlsd_listing("u", "/sub", mlst_fact_set{}),
              "Type=file;Size=1;Modify=20191117183000; a\r\n"
              "Type=file;Size=3; bad\r\n"
              "Type=file;Size=4; z\r\n");
    EXPECT_EQ(server.format_nlst_listing("u", "/sub"), "a\r\nbad\r\nz\r\n");
}

TEST(listing_buffers, the_two_largest_useful_blocks_are_kept_emptied) {
    for (int i = 0; i < 3; ++i) take_listing_buffer();  // whatever earlier listings left
    const auto with_room = [](std::size_t room) {
        std::string text;
        text.reserve(room);
        text = "left over";
        return text;
    };
    for (const std::size_t room : {1024u, 64u << 20, 100'000u, 300'000u, 200'000u})
        give_back_listing_buffer(with_room(room));
    std::vector<std::size_t> rooms;
    for (int i = 0; i < 3; ++i) {
        const std::string text = take_listing_buffer();
        EXPECT_EQ(text, "");
        rooms.push_back(text.capacity());
    }
    std::sort(rooms.begin(), rooms.end());
    EXPECT_LT(rooms[0], 1024u);  // nothing more was kept: a new text
    EXPECT_GE(rooms[1], 200'000u);
    EXPECT_LT(rooms[1], 300'000u);
    EXPECT_GE(rooms[2], 300'000u);
    EXPECT_LT(rooms[2], 64u << 20);
}

}  // namespace
}  // namespace ZT
