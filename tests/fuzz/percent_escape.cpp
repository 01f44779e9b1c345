// The ASCII form of file names: percent_escape gives only ASCII in which every
// "%" starts "%%" or "%" and two lower-case hex digits, and
// percent_unescape(percent_escape(t)) == t for every byte string t. Unescaping
// what a client typed never throws, and a raw byte from 0x80 up comes out as
// the two-byte UTF-8 form of that ISO 8859-1 character.
#include "ftp/client_text.h"
#include "fuzz_support.h"

#include <string>

namespace {

bool is_lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ZT;
    const std::string_view text = fuzz::as_text(data, size);

    const std::string escaped = percent_escape(std::string(text));
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        fuzz::check(static_cast<unsigned char>(escaped[i]) < 0x80, "the escaped form is ASCII", text);
        if (escaped[i] != '%') continue;
        const bool doubled = i + 1 < escaped.size() && escaped[i + 1] == '%';
        const bool hex = i + 2 < escaped.size() && is_lower_hex(escaped[i + 1]) && is_lower_hex(escaped[i + 2]);
        fuzz::check(doubled || hex, "every % of the escaped form starts %% or two lower-case hex digits", text);
        i += doubled ? 1 : 2;
    }
    fuzz::check(percent_unescape(escaped) == text, "unescaping the escaped form gives the text back", text);

    // What a client typed, taken as it is.
    const std::string unescaped = percent_unescape(text);
    if (text.find('%') == std::string_view::npos) {
        std::string latin1;
        for (const char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x80) {
                latin1 += c;
            } else {
                latin1 += static_cast<char>(0xC0 | byte >> 6);
                latin1 += static_cast<char>(0x80 | (byte & 0x3F));
            }
        }
        fuzz::check(unescaped == latin1, "text without % is read as ISO 8859-1", text);
    }
    return 0;
}
