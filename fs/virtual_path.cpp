#include "fs/virtual_path.h"

#include "lib/errors.h"
#include "lib/text.h"

#include <vector>

namespace ZT {

namespace {

bool is_ascii_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Appends the non-empty pieces of `path` between "/" separators to `pieces`,
// applying "." (dropped) and ".." (drops the piece before it, if any) on the way.
void merge_pieces(std::vector<std::string_view>& pieces, std::string_view path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        std::string_view piece = path.substr(start, end - start);
        if (piece == "..") {
            if (!pieces.empty()) pieces.pop_back();
        } else if (!piece.empty() && piece != ".") {
            pieces.push_back(piece);
        }
        start = end + 1;
    }
}

// A drive root is "X:" or "X:\" with an ASCII letter X, and nothing more.
bool is_drive_root(std::string_view home) {
    if (home.size() < 2 || home.size() > 3) return false;
    if (!is_ascii_letter(home[0]) || home[1] != ':') return false;
    return home.size() == 2 || home[2] == '\\';
}

void check_native_piece(std::string_view piece) {
    if (piece == "." || piece == "..") throw invalid_input();
    for (char c : piece) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || c == '\\') throw invalid_input();
    }
}

bool is_allowed_piece(std::string_view name) {
    for (char c : name) {
        switch (c) {
        case '\\': case '/': case '|': case '*': case '?':
        case ':': case '<': case '>': case '"':
            return false;
        default:
            break;
        }
    }
    static constexpr std::string_view reserved[] = {"con", "aux", "lst", "prn", "nul", "eof", "inp", "out"};
    const std::string lower = to_lower_ascii(name);
    for (std::string_view word : reserved) {
        if (lower == word) return false;
    }
    return name.empty() || (name.back() != ' ' && name.back() != '.');
}

}  // namespace

std::string resolve_relative_path(std::string_view current_directory, std::string_view client_path) {
    if (client_path.empty()) return std::string(current_directory);
    if (client_path.front() == '/') return std::string(client_path);

    std::vector<std::string_view> pieces;
    merge_pieces(pieces, current_directory);
    merge_pieces(pieces, client_path);
    if (pieces.empty()) return "/";
    std::string result;
    for (std::string_view piece : pieces) {
        result += '/';
        result += piece;
    }
    return result;
}

bool has_drive_letter_form(std::string_view client_path) {
    return client_path.size() >= 3 && is_ascii_letter(client_path[0]) && client_path[1] == ':' &&
           (client_path[2] == '\\' || client_path[2] == '/');
}

std::string resolve_client_path(std::string_view home, std::string_view current_directory,
                                std::string_view client_path) {
    std::string path(client_path);
    if (has_drive_letter_form(path)) {
        if (!is_drive_root(home)) throw denied();
        // Both bytes are ASCII letters, so setting bit 0x20 folds the case.
        if ((path[0] | 0x20) != (home[0] | 0x20)) throw denied();
        path.erase(0, 2);
    }
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return resolve_relative_path(current_directory, path);
}

std::string to_native_path(std::string_view home, std::string_view virtual_path, char separator) {
    std::string result(home);
    std::size_t start = 0;
    while (start <= virtual_path.size()) {
        std::size_t end = virtual_path.find('/', start);
        if (end == std::string_view::npos) end = virtual_path.size();
        std::string_view piece = virtual_path.substr(start, end - start);
        check_native_piece(piece);
        if (!result.empty() && result.back() != '/' && result.back() != '\\') result += separator;
        result += piece;
        start = end + 1;
    }
    return result;
}

bool is_allowed_name(std::string_view virtual_path) {
    const std::size_t last = virtual_path.find_last_not_of('/');
    if (last == std::string_view::npos) return false;
    const std::size_t slash = virtual_path.find_last_of('/', last);
    const std::size_t first = slash == std::string_view::npos ? 0 : slash + 1;
    return is_allowed_piece(virtual_path.substr(first, last + 1 - first));
}

bool names_home(std::string_view virtual_path) {
    return virtual_path.find_first_not_of('/') == std::string_view::npos;
}

}  // namespace ZT
