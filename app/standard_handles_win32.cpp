#include "app/standard_handles.h"

#include "lib/errors.h"

#include <windows.h>

namespace ZT {

namespace {

constexpr DWORD standard_handle_ids[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};

// A process started without a console (a scheduled task, a service) may get no
// standard handles at all, INVALID_HANDLE_VALUE, or values that name nothing
// and that a later handle of the program would take.
bool names_nothing(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return true;
    SetLastError(0);
    return GetFileType(handle) == FILE_TYPE_UNKNOWN && GetLastError() == ERROR_INVALID_HANDLE;
}

}  // namespace

void attach_null_device_to_closed_standard_handles() {
    for (const DWORD id : standard_handle_ids) {
        if (!names_nothing(GetStdHandle(id))) continue;
        SetLastError(0);
        HANDLE null_device = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr);
        if (null_device == INVALID_HANDLE_VALUE) throw_last_file_error();
        if (!SetStdHandle(id, null_device)) {
            CloseHandle(null_device);
            throw file_access_error();
        }
    }
}

}  // namespace ZT
