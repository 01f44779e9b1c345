// The path rules of the virtual tree that a client sees. Each account's home
// directory is the root "/" of its tree; a virtual path is UTF-8 with "/" between
// its components. These functions only compute: the caller looks up the account's
// home and passes it in, and nothing here touches the file system.
#pragma once

#include <string>
#include <string_view>

namespace ZT {

// The plain resolution of a client path against the current directory:
// - an empty client path gives the current directory unchanged;
// - a client path starting with "/" is returned exactly as written (absolute
//   paths are not normalised; their "." and ".." components are refused later by
//   to_native_path);
// - a relative path is appended to the current directory piece by piece: empty
//   and "." pieces vanish, ".." removes the piece before it and never climbs
//   above the root. The result is "/" followed by the pieces joined with "/", or
//   "/" alone when nothing is left.
// Backslashes get no special treatment here.
std::string resolve_relative_path(std::string_view current_directory, std::string_view client_path);

// True when the client path has the drive-letter form: an ASCII letter, ":" and
// then "\" or "/". Only for such a path does resolve_client_path look at the home.
bool has_drive_letter_form(std::string_view client_path);

// The resolution used for configured accounts. A drive-letter path is accepted
// only when the home is a drive root ("X:" or "X:\") of the same letter (ASCII
// case ignored); the letter and colon are then dropped. Any other drive-letter
// path throws denied. Then every "\" becomes "/" and the plain rule applies.
std::string resolve_client_path(std::string_view home, std::string_view current_directory,
                                std::string_view client_path);

// Maps a virtual path under the home. The path is split at every "/" keeping
// empty pieces; each piece is appended after `separator` unless the result is
// empty or already ends in "/" or "\". So "/" gives the home with one trailing
// separator, doubled "/" collapse and a trailing "/" leaves a trailing separator.
// A piece that is "." or "..", or that holds a byte 0 to 31 or a "\", throws
// invalid_input: nothing can step out of the home or name a different file.
std::string to_native_path(std::string_view home, std::string_view virtual_path, char separator);

// True when the virtual path names the home itself: it has no component at all
// ("/", "//", or empty), so to_native_path maps it to the home directory.
bool names_home(std::string_view virtual_path);

// The separator of the platform's native paths: "\" on Windows, "/" on POSIX.
char native_separator_char();

// Whether a ":" may stand in a component of a native path under a home. False
// on Windows: there "name:stream" opens a second data stream of the file "name",
// "name::$DATA" the file itself under another name and "folder::$INDEX_ALLOCATION"
// the folder itself, none of which a listing shows or the home rule knows. True
// on POSIX, where ":" is a byte of a name like any other.
bool native_names_may_hold_colon();

// Whether the last non-empty component of the path may name a new file or
// directory. Refused: no component at all, any of \ / | * ? : < > and the double
// quote, the whole names con aux lst prn nul eof inp out in any ASCII case, and a
// name ending in a space or a full stop.
bool is_allowed_name(std::string_view virtual_path);

}  // namespace ZT
