#include "app/system_paths.h"

#include "lib/text.h"

#include <shlobj.h>
#include <stdexcept>
#include <string>
#include <windows.h>

namespace ZT {

namespace {
std::string from_wide(const wchar_t* text) {
    return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(text)));
}
}  // namespace

// The buffer grows until the whole path fits: with long paths enabled the
// program may live deeper than MAX_PATH, and a cut path would name another
// folder. A result that fills the buffer was cut.
std::string program_file_path() {
    constexpr std::size_t longest_path = 32768;
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) throw std::runtime_error("Error getting module file name");
        if (length < buffer.size()) {
            buffer.resize(length);
            return from_wide(buffer.c_str());
        }
        if (buffer.size() >= longest_path) throw std::runtime_error("Error getting module file name");
        buffer.resize(buffer.size() * 2);
    }
}

std::string application_data_folder() {
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, buffer)))
        throw std::runtime_error("Error getting appdata path");
    return from_wide(buffer);
}

char native_separator() { return '\\'; }

}  // namespace ZT
