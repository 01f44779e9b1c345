#include "fs/file_operations.h"
#include "lib/errors.h"

#include "file_support.h"
#include "hidden_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <utility>

namespace ZT {
namespace {

namespace stdfs = std::filesystem;
using test::memory_sink;

// Hands out its text in pieces of at most `piece` bytes, then ends.
class memory_source : public readable_stream {
public:
    explicit memory_source(std::string text, std::size_t piece = 1000) : text_(std::move(text)), piece_(piece) {}
    std::size_t read(void* buffer, std::size_t count) override {
        const std::size_t n = std::min({count, piece_, text_.size() - at_});
        std::memcpy(buffer, text_.data() + at_, n);
        at_ += n;
        return n;
    }

private:
    std::string text_;
    std::size_t piece_;
    std::size_t at_ = 0;
};

class file_operations : public test::scratch_test {
protected:
    static std::string pattern(std::size_t size) {
        std::string text(size, '\0');
        for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 23);
        return text;
    }
};

TEST_F(file_operations, listing_leaves_hidden_entries_out) {
    put("visible.txt", "12345");
    stdfs::create_directory(root_ / "folder");
    const std::string hidden = test::create_hidden_file(root_);
    std::vector<std::string> names;
    for (const directory_entry& entry : list_native_directory(root_.string())) {
        names.push_back(entry.name);
        if (entry.name == "visible.txt") {
            EXPECT_EQ(entry.info.size, 5u);
        }
        if (entry.name == "folder") {
            EXPECT_TRUE(entry.info.is_directory);
        }
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"folder", "visible.txt"}));
    EXPECT_THROW(list_native_directory(at("missing")), file_not_found);
}

TEST_F(file_operations, reads_in_whole_pieces_from_an_offset) {
    const std::string content = pattern(transfer_piece * 2 + 10);
    put("big", content);
    memory_sink all;
    read_native_file(at("big"), all, 0);
    EXPECT_EQ(all.data, content);
    EXPECT_EQ(all.writes, (std::vector<std::size_t>{transfer_piece, transfer_piece, 10}));

    memory_sink tail;
    read_native_file(at("big"), tail, transfer_piece * 2);
    EXPECT_EQ(tail.data, content.substr(transfer_piece * 2));

    // Exactly one piece: one write, then the second read finds the end.
    put("exact", pattern(transfer_piece));
    memory_sink exact;
    read_native_file(at("exact"), exact, 0);
    EXPECT_EQ(exact.writes, (std::vector<std::size_t>{transfer_piece}));
}

TEST_F(file_operations, reading_at_or_past_the_end_sends_nothing) {
    put("small", "0123456789");
    for (std::uint64_t offset : {10ull, 11ull, 1000000ull}) {
        memory_sink sink;
        read_native_file(at("small"), sink, offset);
        EXPECT_TRUE(sink.data.empty()) << offset;
    }
    memory_sink sink;
    EXPECT_THROW(read_native_file(at("missing"), sink, 0), file_not_found);
}

TEST_F(file_operations, upload_offsets_replace_cut_or_append) {
    put("f", pattern(1000));
    memory_source replacement("new");
    write_native_file(at("f"), replacement, 0);
    EXPECT_EQ(get("f"), "new");

    // A restart at 100 keeps bytes 0-99; the old bytes after it are gone even
    // though fewer new bytes arrive.
    const std::string old = pattern(1000);
    put("g", old);
    memory_source restart("XYZ");
    write_native_file(at("g"), restart, 100);
    EXPECT_EQ(get("g"), old.substr(0, 100) + "XYZ");

    memory_source more("-tail");
    write_native_file(at("g"), more, append_offset);
    EXPECT_EQ(get("g"), old.substr(0, 100) + "XYZ-tail");

    // A large upload arriving in small pieces.
    const std::string big = pattern(transfer_piece * 3 + 7);
    memory_source pieces(big, 4096);
    write_native_file(at("new"), pieces, 0);
    EXPECT_EQ(get("new"), big);
}

TEST_F(file_operations, failed_close_is_the_uploads_failure) {
    // A write the system defers to the close (full disk, quota, network file
    // system) fails only there: the upload must end with the file error, on
    // every way of opening the target, and never as a success.
    struct row {
        const char* name;
        std::uint64_t offset;
    };
    for (const row& r : {row{"create", 0}, row{"restart", 3}, row{"append", append_offset}}) {
        put(r.name, "old content");
        memory_source source("new data");
        fail_file_closes_for_tests(1);
        bool access_error = false;
        try {
            write_native_file(at(r.name), source, r.offset);
        } catch (const file_not_found&) {
        } catch (const file_access_error&) {
            access_error = true;
        }
        fail_file_closes_for_tests(0);
        EXPECT_TRUE(access_error) << r.name;
    }
    // With a close that succeeds the same uploads report nothing.
    for (const row& r : {row{"create", 0}, row{"restart", 3}, row{"append", append_offset}}) {
        memory_source source("x");
        EXPECT_NO_THROW(write_native_file(at(r.name), source, r.offset)) << r.name;
    }
}

TEST_F(file_operations, restart_or_append_never_creates_a_file) {
    memory_source a("x"), b("y");
    EXPECT_THROW(write_native_file(at("missing1"), a, 5), file_not_found);
    EXPECT_THROW(write_native_file(at("missing2"), b, append_offset), file_not_found);
    EXPECT_FALSE(stdfs::exists(root_ / "missing1"));
    EXPECT_FALSE(stdfs::exists(root_ / "missing2"));
}

// A source that, on its first read, lets another upload append to the same file
// from start to end: the interleaving of two sessions appending at once.
class interleaving_source : public readable_stream {
public:
    interleaving_source(std::string text, std::function<void()> meanwhile)
        : text_(std::move(text)), meanwhile_(std::move(meanwhile)) {}
    std::size_t read(void* buffer, std::size_t count) override {
        if (meanwhile_) std::exchange(meanwhile_, nullptr)();
        const std::size_t n = std::min(count, text_.size() - at_);
        std::memcpy(buffer, text_.data() + at_, n);
        at_ += n;
        return n;
    }

private:
    std::string text_;
    std::function<void()> meanwhile_;
    std::size_t at_ = 0;
};

TEST_F(file_operations, appends_land_at_the_end_as_it_is_at_each_write) {
    put("log", "0123456789");
    // The first upload has its file open when the second one runs whole.
    interleaving_source first(std::string(100, 'a'), [&] {
        memory_source second(std::string(100, 'b'));
        write_native_file(at("log"), second, append_offset);
    });
    write_native_file(at("log"), first, append_offset);
    EXPECT_EQ(get("log"), "0123456789" + std::string(100, 'b') + std::string(100, 'a'));

    // Two files opened for appending before either writes.
    put("two", "0123456789");
    native_file a, b;
    a.open(at("two"), file_mode::append_data, file_mode::open_existing);
    b.open(at("two"), file_mode::append_data, file_mode::open_existing);
    a.write("AAAA", 4);
    b.write("BB", 2);
    a.write("aa", 2);
    a.close();
    b.close();
    EXPECT_EQ(get("two"), "0123456789AAAABBaa");
}

}  // namespace
}  // namespace ZT
