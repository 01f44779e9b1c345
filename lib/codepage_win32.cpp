#include "lib/codepage.h"

#include "lib/text.h"

#include <windows.h>

namespace ZT {

std::string local_to_utf8(std::string_view local) {
    if (local.empty()) return {};
    const int length = static_cast<int>(local.size());
    const int units = MultiByteToWideChar(CP_ACP, 0, local.data(), length, nullptr, 0);
    if (units <= 0) return {};
    std::u16string wide(static_cast<std::size_t>(units), u'\0');
    MultiByteToWideChar(CP_ACP, 0, local.data(), length, reinterpret_cast<wchar_t*>(wide.data()), units);
    // Read as a zero-terminated text: a zero character ends it.
    return utf16_to_utf8(std::u16string_view(wide.c_str()));
}

std::string utf8_to_local(std::string_view utf8) {
    const std::u16string wide = utf8_to_utf16(utf8);
    if (wide.empty()) return {};
    const auto* units = reinterpret_cast<const wchar_t*>(wide.c_str());
    const int bytes = WideCharToMultiByte(CP_ACP, 0, units, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return {};
    std::string result(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, units, -1, result.data(), bytes, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(bytes) - 1);  // without the terminating zero
    return result;
}

}  // namespace ZT
