// Helpers shared by the unit tests that work on real files and streams: a
// scratch folder for each test, UTF-8 paths, a sink that records every write,
// and the name of the exception a call ends with.
#pragma once

#include "lib/errors.h"
#include "lib/stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace ZT::test {

// The UTF-8 text of a path, and the path that a UTF-8 text names.
inline std::string utf8_of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

inline std::filesystem::path path_of(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// A fresh folder under the system's temporary folder for each test, named
// after the test suite and removed with all it holds afterwards. Names given
// to at, put and get are UTF-8 and relative to that folder.
class scratch_test : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string suite = ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name();
        // The clock joins the random device, which some runtimes make predictable.
        std::mt19937_64 random(std::random_device{}() ^
                               static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
        for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
            const auto folder =
                std::filesystem::temp_directory_path() / ("tarvex-" + suite + "-" + std::to_string(random()));
            if (std::filesystem::create_directory(folder)) root_ = folder;
        }
        ASSERT_FALSE(root_.empty()) << "no fresh scratch folder";
    }
    void TearDown() override {
        if (root_.empty()) return;
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    // The native UTF-8 path of a name inside the scratch folder.
    std::string at(const std::string& name) const { return utf8_of(root_ / path_of(name)); }

    // Writes content as the whole of the file.
    void put(const std::string& name, const std::string& content) const {
        std::ofstream out(root_ / path_of(name), std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.close();
        ASSERT_TRUE(out) << name;
    }

    // The whole of a file; empty when there is none.
    std::string get(const std::string& name) const {
        std::ifstream in(root_ / path_of(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::filesystem::path root_;
};

// Records every write it receives.
class memory_sink : public writable_stream {
public:
    void write(const void* buffer, std::size_t count) override {
        writes.push_back(count);
        data.append(static_cast<const char*>(buffer), count);
    }
    std::vector<std::size_t> writes;
    std::string data;
};

// Which exception a call ends with, most derived class first; "none" when it returns.
template <typename Call>
std::string failure_of(Call&& call) {
    try {
        call();
    } catch (const file_not_found&) {
        return "file_not_found";
    } catch (const directory_not_empty&) {
        return "directory_not_empty";
    } catch (const file_already_exists&) {
        return "file_already_exists";
    } catch (const file_access_error&) {
        return "file_access_error";
    } catch (const bug_check&) {
        return "bug_check";
    } catch (const user_abort&) {
        return "user_abort";
    } catch (const network_error_timeout&) {
        return "network_error_timeout";
    } catch (const network_error&) {
        return "network_error";
    } catch (const std::exception& e) {
        return std::string("other: ") + e.what();
    }
    return "none";
}

}  // namespace ZT::test
