#include "fs/native_file.h"

#include "lib/errors.h"

#include "file_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include <windows.h>

namespace ZT {
namespace {

namespace stdfs = std::filesystem;
using test::failure_of;

// A scratch folder holding one ordinary file, real.txt.
class device_files : public test::scratch_test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(scratch_test::SetUp());
        put("real.txt", "keep");
    }

    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto& entry : stdfs::directory_iterator(root_)) found.insert(entry.path().filename().string());
        return found;
    }
};

// Every call is refused before it reaches the device: none of them may block,
// report a write that went nowhere, or leave anything behind in the folder.
TEST_F(device_files, device_names_are_refused_by_every_operation) {
    using namespace file_mode;
    for (const std::string name : {"CON", "aux.dat", "nul.txt", "Com1", "lpt1.log", "CONOUT$", "prn .txt"}) {
        native_file file;
        EXPECT_EQ(failure_of([&] { file.open(at(name), generic_read, open_existing); }), "file_access_error") << name;
        EXPECT_EQ(failure_of([&] { file.open(at(name), generic_read_write, open_existing); }), "file_access_error")
            << name;
        EXPECT_EQ(failure_of([&] { file.open(at(name), generic_read_write, create_always); }), "file_access_error")
            << name;
        EXPECT_FALSE(file.is_open()) << name;
        EXPECT_EQ(failure_of([&] { get_file_info(at(name)); }), "file_access_error") << name;
        EXPECT_EQ(failure_of([&] { delete_file_path(at(name)); }), "file_access_error") << name;
        EXPECT_EQ(failure_of([&] { create_directory_path(at(name)); }), "file_access_error") << name;
        EXPECT_EQ(failure_of([&] { remove_directory_path(at(name)); }), "file_access_error") << name;
        EXPECT_EQ(failure_of([&] { move_path(at("real.txt"), at(name)); }), "file_access_error") << name;
        EXPECT_EQ(failure_of([&] { move_path(at(name), at("moved.txt")); }), "file_access_error") << name;
    }
    EXPECT_EQ(names(), std::set<std::string>{"real.txt"});
    EXPECT_EQ(get("real.txt"), "keep");
}

// A path that names no device yet opens something other than a disk file (here
// the client end of a named pipe) is closed again and refused.
TEST_F(device_files, a_handle_that_is_no_disk_file_is_closed_and_refused) {
    const std::string name = "\\\\.\\pipe\\tarvex-device-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(GetTickCount());
    const std::wstring wide_name(name.begin(), name.end());
    for (const std::uint32_t access : {file_mode::generic_read, file_mode::generic_read_write}) {
        const HANDLE server =
            CreateNamedPipeW(wide_name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
        ASSERT_NE(server, INVALID_HANDLE_VALUE);
        native_file file;
        EXPECT_EQ(failure_of([&] { file.open(name, access, file_mode::open_existing); }), "file_access_error");
        EXPECT_FALSE(file.is_open());
        // The client end was opened and closed again: the server end sees a broken pipe.
        DWORD available = 0;
        SetLastError(0);
        EXPECT_FALSE(PeekNamedPipe(server, nullptr, 0, nullptr, &available, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
        CloseHandle(server);
    }
}

}  // namespace
}  // namespace ZT
