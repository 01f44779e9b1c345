#include "lib/codepage.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <strings.h>

namespace ZT {

namespace {

// The character set of the locale that the environment selects, read once without
// touching the process's own locale. Plain ASCII (the "C" locale) is widened to
// ISO 8859-1 so that every byte a client sends has a meaning, as with a Windows
// ANSI code page.
const char* locale_charset() {
    static const std::string charset = [] {
        std::string name = "ISO-8859-1";
        if (locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0))) {
            const char* codeset = nl_langinfo_l(CODESET, locale);
            if (codeset && *codeset && std::strcmp(codeset, "ANSI_X3.4-1968") != 0) name = codeset;
            freelocale(locale);
        }
        return name;
    }();
    return charset.c_str();
}

bool is_utf8_charset(const char* name) {
    return strcasecmp(name, "UTF-8") == 0 || strcasecmp(name, "UTF8") == 0;
}

// Converts with iconv; a character the target cannot hold becomes '?', and an
// undecodable input byte is skipped, so the conversion never fails.
std::string convert(std::string_view input, const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(input);
    std::string output;
    char buffer[1024];
    char* in = const_cast<char*>(input.data());
    std::size_t in_left = input.size();
    while (in_left > 0) {
        char* out = buffer;
        std::size_t out_left = sizeof buffer;
        const std::size_t result = iconv(cd, &in, &in_left, &out, &out_left);
        output.append(buffer, static_cast<std::size_t>(out - buffer));
        if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
            if (errno == EILSEQ && std::strcmp(from, "UTF-8") == 0) {
                // Skip the whole character that the target cannot hold.
                std::size_t skip = 1;
                while (skip < in_left && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80) ++skip;
                in += skip;
                in_left -= skip;
                output.push_back('?');
            } else {
                ++in;
                --in_left;
            }
        }
    }
    iconv_close(cd);
    return output;
}

}  // namespace

std::string local_to_utf8(std::string_view local) {
    const char* charset = locale_charset();
    const std::string_view text(local.data(), ::strnlen(local.data(), local.size()));
    if (is_utf8_charset(charset)) return std::string(text);
    return convert(text, "UTF-8", charset);
}

std::string utf8_to_local(std::string_view utf8) {
    const char* charset = locale_charset();
    const std::string_view text(utf8.data(), ::strnlen(utf8.data(), utf8.size()));
    if (is_utf8_charset(charset)) return std::string(text);
    return convert(text, charset, "UTF-8");
}

}  // namespace ZT
