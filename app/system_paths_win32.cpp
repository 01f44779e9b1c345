#include "app/system_paths.h"

#include "lib/text.h"

#include <shlobj.h>
#include <stdexcept>
#include <windows.h>

namespace ZT {

namespace {
std::string from_wide(const wchar_t* text) {
    return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(text)));
}
}  // namespace

std::string program_file_path() {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0) throw std::runtime_error("Error getting module file name");
    buffer[length < MAX_PATH ? length : MAX_PATH - 1] = 0;
    return from_wide(buffer);
}

std::string application_data_folder() {
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, buffer)))
        throw std::runtime_error("Error getting appdata path");
    return from_wide(buffer);
}

char native_separator() { return '\\'; }

}  // namespace ZT
