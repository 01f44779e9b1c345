#include "ftp/configured_server.h"

#include "config/ini_file.h"
#include "config/server_settings.h"
#include "lib/errors.h"
#include "lib/network_session.h"
#include "lib/tcp_socket.h"
#include "lib/text.h"

#include "file_support.h"
#include "fs/hidden_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace ZT {
namespace {

namespace stdfs = std::filesystem;
using test::memory_sink;
using namespace std::chrono_literals;

const std::string user = "writer";
const std::string dot_line = "drwxrwxrwx   1 0        0            4096 Jan 01 00:00 .\r\n";
const std::string dot_dot_line = "drwxrwxrwx   1 0        0            4096 Jan 01 00:00 ..\r\n";

// Every test file is dated 17 November 2019, 08:09:10 UTC.
const auto test_time = std::chrono::sys_days{std::chrono::year{2019} / 11 / 17} + 8h + 9min + 10s;
const std::string test_modify = "20191117080910";

// The LIST line of a file dated test_time.
std::string list_file_line(const std::string& size, const std::string& name) {
    return "-rw-rw-rw-   1 0        0   " + std::string(13 - std::min<std::size_t>(13, size.size()), ' ') + size +
           " Nov 17  2019 " + name + "\r\n";
}

// The CR LF terminated lines of a listing, sorted; a line end without CR, or
// text after the last line end, is a failure.
std::vector<std::string> sorted_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end + 2 - start));
        EXPECT_EQ(lines.back().find_first_of("\r\n"), lines.back().size() - 2) << lines.back();
    }
    EXPECT_EQ(start, text.size()) << "unterminated listing text: " << text;
    std::sort(lines.begin(), lines.end());
    return lines;
}

// Two ends of one loopback connection.
struct socket_pair {
    tcp_socket sender;
    tcp_socket receiver;
};

socket_pair connect_pair() {
    sockaddr_in loopback{};
    loopback.sin_family = AF_INET;
    loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socket_handle listening;
    listening.open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    listening.bind(network_address::from_sockaddr_in(loopback));
    listening.listen();
    listening.set_timeout(5);
    socket_pair pair;
    pair.sender.set_timeout(5);
    connect_to_host(pair.sender, "127.0.0.1", format_uint(listening.local_address().port()));
    listening.wait(true, false);
    pair.receiver = tcp_socket(listening.accept());
    pair.receiver.set_timeout(5);
    return pair;
}

// A running server with one writable account whose home is a fresh scratch folder.
class server_operations : public test::scratch_test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(scratch_test::SetUp());
        settings_ = std::make_unique<server_settings>(
            parse("[config]\nlisten-address=127.0.0.1\nlisten-port=0\nconcurrency=2\n"
                  "[user]\nname=" + user + "\nhome=" + root_.string() + "\ncan-write=yes\n"));
        server_ = std::make_unique<configured_server>(*settings_);
    }
    void TearDown() override {
        server_.reset();
        scratch_test::TearDown();
    }

    // Every file put here is dated test_time.
    void put(const std::string& name, const std::string& content) const {
        scratch_test::put(name, content);
        stdfs::last_write_time(root_ / name, std::chrono::file_clock::from_sys(test_time));
    }
    std::string read(const std::string& path, std::uint64_t offset, std::vector<std::size_t>* writes = nullptr) {
        memory_sink sink;
        server_->read_file(user, path, sink, offset);
        if (writes) *writes = sink.writes;
        return sink.data;
    }

    // Uploads `pieces` from a second thread, which then closes its end. The
    // pause between pieces is the sender's pacing, as a slow client sends.
    void upload(const std::string& path, const std::vector<std::string>& pieces, std::uint64_t offset,
                std::chrono::milliseconds pause = 0ms) {
        socket_pair pair = connect_pair();
        std::atomic<bool> all_sent{false};
        std::thread sender([&] {
            try {
                for (std::size_t i = 0; i < pieces.size(); ++i) {
                    if (i != 0) std::this_thread::sleep_for(pause);
                    pair.sender.write(pieces[i].data(), pieces[i].size());
                }
                all_sent = true;
            } catch (const std::exception&) {
            }
            pair.sender.close();
        });
        try {
            server_->write_file(user, path, pair.receiver, offset);
        } catch (...) {
            sender.join();
            throw;
        }
        sender.join();
        EXPECT_TRUE(all_sent) << path;
    }

    network_session networking_;
    std::unique_ptr<server_settings> settings_;
    std::unique_ptr<configured_server> server_;
    const mlst_fact_set all_facts_{};
};

TEST_F(server_operations, hidden_entries_are_left_out_of_listings_but_reachable_by_path) {
    put("shown.txt", "abc");
    const std::string hidden = test::create_hidden_file(root_);
    stdfs::last_write_time(root_ / hidden, std::chrono::file_clock::from_sys(test_time));

    EXPECT_EQ(server_->format_nlst_listing(user, "/"), "shown.txt\r\n");
    EXPECT_EQ(server_->format_mlsd_listing(user, "/", all_facts_), "Type=file;Size=3;Modify=" + test_modify + "; shown.txt\r\n");
    EXPECT_EQ(server_->format_list_listing(user, "/"), list_file_line("3", "shown.txt") + dot_line);

    const file_info info = server_->stat_path(user, "/" + hidden);
    EXPECT_TRUE(info.is_hidden);
    EXPECT_EQ(info.size, 6u);
    EXPECT_EQ(server_->format_mlst_entry(user, "/" + hidden, all_facts_),
              "Type=file;Size=6;Modify=" + test_modify + "; /" + hidden + "\r\n");
    EXPECT_EQ(read("/" + hidden, 0), "hidden");
}

TEST_F(server_operations, list_ends_with_dot_lines_after_the_entries) {
    put("a.txt", "12345");
    stdfs::create_directories(root_ / "sub" / "inner");
    put("sub/b", std::string(1234567, 'x'));

    // The real entries come first, in the system's order, then the dot lines.
    const std::string root_text = server_->format_list_listing(user, "/");
    ASSERT_GE(root_text.size(), dot_line.size());
    EXPECT_EQ(root_text.substr(root_text.size() - dot_line.size()), dot_line);
    const std::vector<std::string> root_entries = sorted_lines(root_text.substr(0, root_text.size() - dot_line.size()));
    ASSERT_EQ(root_entries.size(), 2u) << root_text;
    EXPECT_EQ(root_entries[0], list_file_line("5", "a.txt"));
    EXPECT_EQ(root_entries[1].substr(0, 42), "drwxrwxrwx   1 0        0            4096 ");
    EXPECT_EQ(root_entries[1].substr(root_entries[1].size() - 6), " sub\r\n");

    const std::string sub_text = server_->format_list_listing(user, "/sub");
    const std::string tail = dot_line + dot_dot_line;
    ASSERT_GE(sub_text.size(), tail.size());
    EXPECT_EQ(sub_text.substr(sub_text.size() - tail.size()), tail);
    const std::vector<std::string> sub_entries = sorted_lines(sub_text.substr(0, sub_text.size() - tail.size()));
    ASSERT_EQ(sub_entries.size(), 2u) << sub_text;
    EXPECT_EQ(sub_entries[0], list_file_line("1234567", "b"));
    EXPECT_EQ(sub_entries[1].substr(sub_entries[1].size() - 8), " inner\r\n");
    EXPECT_EQ(server_->format_nlst_listing(user, "/sub/inner"), "");
    EXPECT_EQ(server_->format_list_listing(user, "/sub/inner"), dot_line + dot_dot_line);
}

TEST_F(server_operations, fact_lines_of_entries_and_paths) {
    put("a.txt", "abc");
    stdfs::create_directory(root_ / "sub");
    mlst_fact_set size_only;
    size_only.chosen = true;
    size_only.names = {"SIZE"};

    EXPECT_EQ(sorted_lines(server_->format_mlsd_listing(user, "/", all_facts_)),
              (std::vector<std::string>{"Type=dir; sub\r\n", "Type=file;Size=3;Modify=" + test_modify + "; a.txt\r\n"}));
    EXPECT_EQ(sorted_lines(server_->format_mlsd_listing(user, "/", size_only)),
              (std::vector<std::string>{" sub\r\n", "Size=3; a.txt\r\n"}));

    const struct {
        std::string path;
        const mlst_fact_set& facts;
        std::string expected;
    } rows[] = {
        {"/a.txt", all_facts_, "Type=file;Size=3;Modify=" + test_modify + "; /a.txt\r\n"},
        {"/a.txt", size_only, "Size=3; /a.txt\r\n"},
        {"/sub", all_facts_, "Type=dir; /sub\r\n"},
        {"/sub", size_only, " /sub\r\n"},
        {"/", all_facts_, "Type=dir; /\r\n"},
        {"/missing", all_facts_, ""},
        {"/sub/missing.txt", size_only, ""},
    };
    for (const auto& row : rows) EXPECT_EQ(server_->format_mlst_entry(user, row.path, row.facts), row.expected) << row.path;

    // A missing directory lists as nothing at all, without the dot lines.
    for (const std::string path : {"/missing", "/a.txt/missing", "/missing/deeper"}) {
        EXPECT_EQ(server_->format_list_listing(user, path), "") << path;
        EXPECT_EQ(server_->format_nlst_listing(user, path), "") << path;
        EXPECT_EQ(server_->format_mlsd_listing(user, path, all_facts_), "") << path;
    }
}

TEST_F(server_operations, downloads_at_the_end_and_of_one_whole_piece) {
    put("ten", "0123456789");
    for (std::uint64_t offset : {10ull, 11ull, 5000000000ull}) EXPECT_EQ(read("/ten", offset), "") << offset;
    EXPECT_EQ(read("/ten", 7), "789");

    std::string piece(131072, '\0');
    for (std::size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<char>('A' + i % 26);
    put("piece", piece);
    std::vector<std::size_t> writes;
    EXPECT_EQ(read("/piece", 0, &writes), piece);
    EXPECT_EQ(writes, (std::vector<std::size_t>{131072}));
    memory_sink sink;
    EXPECT_THROW(server_->read_file(user, "/missing", sink, 0), file_not_found);
}

TEST_F(server_operations, uploads_replace_cut_or_append) {
    put("f", std::string(1000, 'o'));
    upload("/f", {"replaced"}, 0);
    EXPECT_EQ(get("f"), "replaced");

    std::string old(1000, '\0');
    for (std::size_t i = 0; i < old.size(); ++i) old[i] = static_cast<char>('a' + i % 23);
    put("g", old);
    upload("/g", {"0123456789"}, 100);
    EXPECT_EQ(get("g"), old.substr(0, 100) + "0123456789");

    upload("/g", {"-tail"}, append_offset);
    EXPECT_EQ(get("g"), old.substr(0, 100) + "0123456789-tail");

    for (std::uint64_t offset : {std::uint64_t{5}, append_offset}) {
        EXPECT_THROW(upload("/missing", {"data"}, offset), file_not_found) << offset;
        EXPECT_FALSE(stdfs::exists(root_ / "missing")) << offset;
    }
}

TEST_F(server_operations, paced_upload_arrives_whole) {
    const std::vector<std::string> pieces = {"first;", std::string(200000, 'm'), "third;", "last"};
    upload("/paced", pieces, 0, 100ms);
    const std::string expected = pieces[0] + pieces[1] + pieces[2] + pieces[3];
    const std::string stored = get("paced");
    EXPECT_EQ(stored.size(), expected.size());
    EXPECT_TRUE(stored == expected) << "the stored bytes differ from those sent";
}

TEST_F(server_operations, sizes_beyond_four_gib) {
    constexpr std::uint64_t size = 5000000010ull;
    const stdfs::path big = root_ / "big";
    std::ofstream(big, std::ios::binary).close();
    std::error_code error;
    stdfs::resize_file(big, size, error);
    if (error || stdfs::file_size(big, error) != size) {
        GTEST_SKIP() << "the scratch file system cannot hold a sparse file of " << size << " bytes: " << error.message();
    }
    stdfs::last_write_time(big, std::chrono::file_clock::from_sys(test_time));

    EXPECT_EQ(server_->stat_path(user, "/big").size, size);
    EXPECT_EQ(server_->format_mlst_entry(user, "/big", all_facts_),
              "Type=file;Size=5000000010;Modify=" + test_modify + "; /big\r\n");
    EXPECT_EQ(server_->format_list_listing(user, "/"), list_file_line("5000000010", "big") + dot_line);
    EXPECT_EQ(read("/big", 5000000000ull), std::string(10, '\0'));
}

TEST_F(server_operations, tree_changes_and_their_failures) {
    put("from", "new");
    put("to", "old");
    server_->rename_path(user, "/from", "/to");
    EXPECT_EQ(get("to"), "new");
    EXPECT_FALSE(stdfs::exists(root_ / "from"));

    stdfs::create_directory(root_ / "dir");
    put("dir/inside", "x");
    EXPECT_NO_THROW(server_->create_directory(user, "/dir"));
    EXPECT_NO_THROW(server_->create_directory(user, "/to"));
    EXPECT_EQ(get("to"), "new");
    EXPECT_THROW(server_->remove_directory(user, "/dir"), directory_not_empty);
    EXPECT_EQ(get("dir/inside"), "x");
    EXPECT_THROW(server_->delete_file(user, "/missing"), file_not_found);
    EXPECT_FALSE(server_->path_exists(user, "/missing"));
}

TEST_F(server_operations, dot_components_are_refused_by_every_mapping_operation) {
    stdfs::create_directories(root_ / "a" / "b");
    put("b", "outside");
    const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> operations = {
        {"is_directory", [&](const std::string& p) { server_->is_directory(user, p); }},
        {"stat_path", [&](const std::string& p) { server_->stat_path(user, p); }},
        {"path_exists", [&](const std::string& p) { server_->path_exists(user, p); }},
        {"read_file", [&](const std::string& p) { memory_sink sink; server_->read_file(user, p, sink, 0); }},
        {"write_file", [&](const std::string& p) { tcp_socket unused; server_->write_file(user, p, unused, 0); }},
        {"delete_file", [&](const std::string& p) { server_->delete_file(user, p); }},
        {"remove_directory", [&](const std::string& p) { server_->remove_directory(user, p); }},
        {"create_directory", [&](const std::string& p) { server_->create_directory(user, p); }},
        {"rename_path from", [&](const std::string& p) { server_->rename_path(user, p, "/renamed"); }},
        {"rename_path to", [&](const std::string& p) { server_->rename_path(user, "/b", p); }},
    };
    for (const std::string path : {"/a/../b", "/./b", "/..", "/a/.", "/a/b/.."}) {
        for (const auto& [name, operation] : operations) {
            EXPECT_THROW(operation(path), invalid_input) << name << " " << path;
        }
        EXPECT_EQ(server_->format_list_listing(user, path), "") << path;
        EXPECT_EQ(server_->format_nlst_listing(user, path), "") << path;
        EXPECT_EQ(server_->format_mlsd_listing(user, path, all_facts_), "") << path;
        EXPECT_EQ(server_->format_mlst_entry(user, path, all_facts_), "") << path;
    }
    EXPECT_EQ(get("b"), "outside");
    EXPECT_TRUE(stdfs::is_directory(root_ / "a" / "b"));
    EXPECT_FALSE(stdfs::exists(root_ / "renamed"));
}

TEST_F(server_operations, the_home_itself_is_never_removed_renamed_or_moved) {
    put("file", "x");
    const std::vector<std::pair<const char*, std::function<void()>>> operations = {
        {"remove /", [&] { server_->remove_directory(user, "/"); }},
        {"remove //", [&] { server_->remove_directory(user, "//"); }},
        {"delete /", [&] { server_->delete_file(user, "/"); }},
        {"rename / away", [&] { server_->rename_path(user, "/", "/moved"); }},
        {"rename // away", [&] { server_->rename_path(user, "//", "/moved"); }},
        {"rename a file onto /", [&] { server_->rename_path(user, "/file", "/"); }},
    };
    for (const auto& [name, operation] : operations) EXPECT_THROW(operation(), denied) << name;
    EXPECT_EQ(get("file"), "x");
    EXPECT_FALSE(stdfs::exists(root_ / "moved"));
    stdfs::remove(root_ / "file");
    // Empty now, so nothing but the rule keeps it.
    EXPECT_THROW(server_->remove_directory(user, "/"), denied);
    EXPECT_TRUE(stdfs::is_directory(root_));
}

}  // namespace
}  // namespace ZT
