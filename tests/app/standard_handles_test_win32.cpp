#include "app/standard_handles.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace ZT {
namespace {

// Puts the test program's own standard handles back when a case ends.
class saved_standard_handles {
public:
    saved_standard_handles() {
        for (int i = 0; i < 3; ++i) saved_[i] = GetStdHandle(ids[i]);
    }
    ~saved_standard_handles() {
        for (int i = 0; i < 3; ++i) {
            HANDLE now = GetStdHandle(ids[i]);
            if (now != saved_[i] && now != nullptr && now != INVALID_HANDLE_VALUE) CloseHandle(now);
            SetStdHandle(ids[i], saved_[i]);
        }
    }
    saved_standard_handles(const saved_standard_handles&) = delete;
    saved_standard_handles& operator=(const saved_standard_handles&) = delete;

    static constexpr DWORD ids[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};

private:
    HANDLE saved_[3];
};

// A handle value that named an event a moment ago and names nothing now.
HANDLE closed_handle_value() {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(event);
    return event;
}

// The null device takes every standard handle that names nothing; a handle that
// names something (a file here) is left alone.
TEST(standard_handles, handles_that_name_nothing_get_the_null_device) {
    struct row {
        const char* what;
        HANDLE (*make)();
    };
    const row rows[] = {
        {"no handle", [] { return HANDLE(nullptr); }},
        {"INVALID_HANDLE_VALUE", [] { return INVALID_HANDLE_VALUE; }},
        {"a closed handle", closed_handle_value},
    };
    for (const row& r : rows) {
        for (const DWORD id : saved_standard_handles::ids) {
            saved_standard_handles saved;
            SetStdHandle(id, r.make());
            attach_null_device_to_closed_standard_handles();
            HANDLE now = GetStdHandle(id);
            ASSERT_NE(now, nullptr) << r.what;
            ASSERT_NE(now, INVALID_HANDLE_VALUE) << r.what;
            EXPECT_EQ(GetFileType(now), DWORD(FILE_TYPE_CHAR)) << r.what;
            DWORD written = 0;
            EXPECT_TRUE(WriteFile(now, "x", 1, &written, nullptr)) << r.what;
            EXPECT_EQ(written, 1u) << r.what;
        }
    }
}

TEST(standard_handles, a_handle_that_names_a_file_stays) {
    saved_standard_handles saved;
    wchar_t folder[MAX_PATH], path[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
    ASSERT_NE(GetTempFileNameW(folder, L"tvx", 0, path), 0u);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetStdHandle(STD_OUTPUT_HANDLE, file);
    attach_null_device_to_closed_standard_handles();
    EXPECT_EQ(GetStdHandle(STD_OUTPUT_HANDLE), file);
}

}  // namespace
}  // namespace ZT
