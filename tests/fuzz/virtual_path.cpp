// Client paths resolved against a current directory and mapped under a home,
// for a POSIX home, a Windows home and a Windows drive root. The input is a
// series of client paths, one a line; each accepted path that names a directory
// becomes the current directory, as CWD would make it.
//
// Every accepted native path is the home, its separator, and then components
// separated by that separator only: none empty (but a trailing separator is
// allowed), none "." or "..", none with a control byte or the other separator.
// Resolution always gives an absolute virtual path; a relative client path
// always gives a normalised one that maps unless it holds a control byte;
// drive-letter paths are refused unless the home is that drive's root; and a
// name that is_allowed_name accepts is a real file name.
#include "fs/virtual_path.h"
#include "fuzz_support.h"
#include "lib/errors.h"

#include <exception>
#include <string>
#include <vector>

namespace {

using namespace ZT;

struct home_case {
    std::string_view home;
    char separator;
    char drive;  // the drive letter when the home is a drive root, else 0
};

constexpr home_case homes[] = {{"/srv/home", '/', 0}, {"C:\\ftp", '\\', 0}, {"D:\\", '\\', 'd'}};

bool has_control_byte(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 32) return true;
    return false;
}

// "/" or "/a/b": no empty, "." or ".." piece.
bool is_normalised(std::string_view path) {
    if (path == "/") return true;
    if (path.empty() || path.front() != '/') return false;
    std::size_t start = 1;
    for (;;) {
        const std::size_t end = path.find('/', start);
        const std::string_view piece = path.substr(start, end - start);
        if (piece.empty() || piece == "." || piece == "..") return false;
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

void check_native(const home_case& home, std::string_view virtual_path, const std::string& native) {
    std::string base(home.home);
    if (base.back() != '/' && base.back() != '\\') base += home.separator;
    fuzz::check(native.compare(0, base.size(), base) == 0, "a native path starts with the home and its separator",
                native);
    const std::string_view rest = std::string_view(native).substr(base.size());
    const char other = home.separator == '/' ? '\\' : '/';
    fuzz::check(rest.find(other) == std::string_view::npos && !has_control_byte(rest),
                "below the home a native path holds no other separator and no control byte", native);
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = rest.find(home.separator, start);
        const std::string_view piece = rest.substr(start, end - start);
        fuzz::check(piece != "." && piece != "..", "no native component is . or ..", native);
        if (end == std::string_view::npos) break;
        fuzz::check(!piece.empty(), "no native component is empty but a trailing one", virtual_path);
        start = end + 1;
    }
}

// The last non-empty component of an accepted new name is a real file name.
void check_allowed_name(std::string_view path) {
    if (!is_allowed_name(path)) return;
    const std::size_t last = path.find_last_not_of('/');
    fuzz::check(last != std::string_view::npos, "an allowed name has a component", path);
    const std::size_t slash = path.find_last_of('/', last);
    const std::string_view name = path.substr(slash == std::string_view::npos ? 0 : slash + 1, last + 1 - (slash + 1));
    fuzz::check(name != "." && name != ".." && name.find_first_of("\\/:*?\"<>|") == std::string_view::npos &&
                    name.back() != ' ' && name.back() != '.',
                "an allowed name is neither a dot name nor holds a reserved character", path);
}

void run_paths(const home_case& home, std::string_view input) {
    std::string current = "/";
    std::size_t start = 0;
    while (start <= input.size()) {
        std::size_t end = input.find('\n', start);
        if (end == std::string_view::npos) end = input.size();
        const std::string_view client = input.substr(start, end - start);
        start = end + 1;

        const bool drive_form = has_drive_letter_form(client);
        const bool own_drive = drive_form && home.drive != 0 && (client[0] | 0x20) == home.drive;
        std::string resolved;
        try {
            resolved = resolve_client_path(home.home, current, client);
        } catch (const denied&) {
            fuzz::check(drive_form && !own_drive, "only a foreign drive-letter path is refused", client);
            continue;
        } catch (const std::exception& e) {
            fuzz::fail("resolving fails only with denied", e.what());
        }
        fuzz::check(!drive_form || own_drive, "a foreign drive-letter path is refused", client);
        fuzz::check(!resolved.empty() && resolved.front() == '/', "a resolved path is absolute", client);

        std::string relative(drive_form ? client.substr(2) : client);
        for (char& c : relative)
            if (c == '\\') c = '/';
        const bool is_relative = !relative.empty() && relative.front() != '/';
        if (is_relative) fuzz::check(is_normalised(resolved), "a relative path resolves to a normalised one", client);
        check_allowed_name(resolved);

        std::string native;
        try {
            native = to_native_path(home.home, resolved, home.separator);
        } catch (const invalid_input&) {
            fuzz::check(!is_relative || has_control_byte(resolved),
                        "a relative path maps unless it holds a control byte", client);
            continue;
        } catch (const std::exception& e) {
            fuzz::fail("mapping fails only with invalid_input", e.what());
        }
        check_native(home, resolved, native);
        if (is_normalised(resolved)) current = resolved;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = ZT::fuzz::as_text(data, size);
    for (const home_case& home : homes) run_paths(home, input);
    return 0;
}
