#include "fs/device_name.h"

#include <string>

namespace ZT {

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string_view final_component(std::string_view path) {
    while (!path.empty() && is_separator(path.back())) path.remove_suffix(1);
    const std::size_t separator = path.find_last_of("\\/");
    if (separator != std::string_view::npos) return path.substr(separator + 1);
    // "X:name" names "name" in the current folder of drive X.
    if (path.size() >= 2 && is_ascii_letter(path[0]) && path[1] == ':') return path.substr(2);
    return path;
}

// The device part in upper case with superscript digits made plain, or an empty
// string when a byte can be part of no device name.
std::string folded_device_part(std::string_view name) {
    name = name.substr(0, name.find_first_of(".:"));
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    std::string folded;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c >= 'a' && c <= 'z') {
            folded += static_cast<char>(c - 'a' + 'A');
        } else if (static_cast<unsigned char>(c) < 0x80) {
            folded += c;
        } else {
            const std::string_view pair = name.substr(i, 2);
            if (pair == "\xC2\xB9") folded += '1';
            else if (pair == "\xC2\xB2") folded += '2';
            else if (pair == "\xC2\xB3") folded += '3';
            else if (pair == "\xC4\xB1") folded += 'I';
            else return std::string();
            ++i;
        }
    }
    return folded;
}

}  // namespace

bool names_windows_device(std::string_view path) {
    const std::string part = folded_device_part(final_component(path));
    static constexpr std::string_view whole_names[] = {"CON", "PRN", "AUX", "NUL", "CLOCK$", "CONIN$", "CONOUT$"};
    for (std::string_view name : whole_names) {
        if (part == name) return true;
    }
    return part.size() == 4 && (part.starts_with("COM") || part.starts_with("LPT")) && part[3] >= '0' &&
           part[3] <= '9';
}

bool has_dots_only_component(std::string_view path) {
    // The "\\?\" and "\\.\" prefixes of Windows paths are no components.
    if (path.size() >= 4 && is_separator(path[0]) && is_separator(path[1]) && (path[2] == '?' || path[2] == '.') &&
        is_separator(path[3]))
        path.remove_prefix(4);
    while (!path.empty()) {
        const std::size_t separator = path.find_first_of("\\/");
        const std::string_view component = path.substr(0, separator);
        if (!component.empty() && component.find_first_not_of(". ") == std::string_view::npos) return true;
        if (separator == std::string_view::npos) break;
        path.remove_prefix(separator + 1);
    }
    return false;
}

}  // namespace ZT
