#include "ftp/client_text.h"

#include "lib/text.h"

#include <algorithm>

namespace ZT {

namespace {

bool needs_percent_escape(char c) { return static_cast<unsigned char>(c) >= 0x80 || c == '%'; }

}  // namespace

std::string percent_escape(std::string text) {
    // Most texts (a listing of plain names) hold nothing to escape and are
    // passed on as they are.
    const auto first = std::find_if(text.begin(), text.end(), needs_percent_escape);
    if (first == text.end()) return text;
    std::string result(text.begin(), first);
    result.reserve(text.size() + text.size() / 8);
    for (char c : std::string_view(text).substr(static_cast<std::size_t>(first - text.begin()))) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            result += '%';
            result += format_hex(byte, 2);
        } else if (c == '%') {
            result += "%%";
        } else {
            result += c;
        }
    }
    return result;
}

std::string percent_unescape(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        if (c == '%') {
            if (i + 1 < text.size() && text[i + 1] == '%') {
                result += '%';
                ++i;
            } else if (i + 2 < text.size() && is_hex_digit(text[i + 1]) && is_hex_digit(text[i + 2])) {
                result += static_cast<char>(parse_hex_byte(text[i + 1], text[i + 2]));
                i += 2;
            } else {
                // Not an escape: the "%" stands for itself and the bytes after
                // it are decoded on their own.
                result += '%';
            }
        } else if (byte < 0x80) {
            result += c;
        } else {
            char encoded[6];
            result.append(encoded, utf8_encode_char(byte, encoded));
        }
    }
    return result;
}

}  // namespace ZT
