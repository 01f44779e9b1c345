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
    // Without WC_NO_BEST_FIT_CHARS a character that the code page lacks becomes
    // a look-alike: a fullwidth or division slash a "/", a one-dot leader a ".",
    // so a name would reach the client as a path of other names. With it, such a
    // character becomes the code page's default character. UTF-8 holds every
    // character and takes no such flag (the call would fail).
    const DWORD flags = GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int bytes = WideCharToMultiByte(CP_ACP, flags, units, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return {};
    std::string result(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, flags, units, -1, result.data(), bytes, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(bytes) - 1);  // without the terminating zero
    return result;
}

}  // namespace ZT
