// Every reply line that the server sends on a control connection, by name: the
// fixed texts as constants and the replies that repeat a name, a path or a
// number as small builders. Handlers send these and never spell a reply out.
//
// Two texts differ in one letter and both are right: "503 Internal error"
// (command_failed) is the catch-all answer of a command whose step failed, and
// "503 Internal Error" (data_connection_unavailable) says that PASV could bind
// no port or that a transfer has no data connection prepared.
//
// The texts are sent as they are (send_reply adds CR LF); a path or argument that
// a builder repeats is the caller's UTF-8 text, not encoded for the client.
#pragma once

#include "lib/text.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace ZT::reply {

// ---- Login and the command loop ----

// "220 TARVEX " and the greeting joke.
inline std::string greeting(std::string_view joke) { return std::string("220 TARVEX ").append(joke); }
inline std::string password_required(std::string_view user) {
    return std::string("331 Password required for ").append(user);
}
inline constexpr std::string_view login_incorrect = "530 Login incorrect";
inline constexpr std::string_view not_logged_in = "530 Not logged in";
inline std::string logged_in(std::string_view user) {
    return std::string("230 User ").append(user).append(" logged in");
}
// PASS once logged in.
inline std::string already_logged_in(std::string_view user) {
    return std::string("230 User ").append(user).append(" already logged in");
}
// "221 " and the farewell of this QUIT.
inline std::string farewell(std::string_view text) { return std::string("221 ").append(text); }
inline constexpr std::string_view unknown_command = "502 Unknown command";
inline constexpr std::string_view invalid_argument_count = "501 Invalid number of arguments";

// ---- Failures ----

inline constexpr std::string_view command_failed = "503 Internal error";
inline constexpr std::string_view data_connection_unavailable = "503 Internal Error";
inline constexpr std::string_view no_such_file = "550 No such file or directory";
inline constexpr std::string_view access_denied = "550 Access denied";
inline constexpr std::string_view directory_not_empty = "550 Directory not empty";
inline constexpr std::string_view name_not_allowed = "553 File name not allowed";
// SIZE and RETR of a directory.
inline constexpr std::string_view not_a_file = "550 Not a file";
// MDTM of a directory.
inline constexpr std::string_view not_a_plain_file = "550 Not a plain file";
// CWD or CDUP to anything but a directory.
inline constexpr std::string_view no_such_directory = "550 No such directory";

// ---- Session state ----

inline constexpr std::string_view system_type = "215 UNIX Type: L8";
// The FEAT reply, one line a send.
inline constexpr std::string_view feature_lines[] = {
    "211-Features", " UTF8", " SIZE", " MLST Type*;Size*;Modify*;", " MDTM", " REST", "211 End",
};
// Added before the last FEAT line when the server offers encrypted connections.
inline constexpr std::string_view tls_feature_lines[] = {" AUTH TLS", " PBSZ", " PROT"};
inline constexpr std::string_view utf8_on = "200 UTF8 set to on";
inline constexpr std::string_view utf8_off = "200 UTF8 set to off";
inline constexpr std::string_view mlst_options_set = "200 MLST options set";
inline constexpr std::string_view noop = "200 NOOP command successful";
inline constexpr std::string_view directory_changed = "250 CWD command successful";
// Quotes inside the path are not doubled.
inline std::string current_directory(std::string_view path) {
    return std::string("257 \"").append(path).append("\" is the current directory");
}
inline std::string type_set(std::string_view type) { return std::string("200 Type set to ").append(type); }
inline constexpr std::string_view type_not_supported = "503 Only BINARY and ASCII types supported";
inline std::string file_size(std::uint64_t size) { return "213 " + format_uint(size); }
// MDTM: the fourteen digits of the last write time.
inline std::string modification_time(std::string_view digits) { return std::string("213 ").append(digits); }
inline std::string restarting_at(std::uint64_t offset) {
    return "350 Restarting at " + format_uint(offset) + ". Send STOR or RETR to initiate transfer.";
}

// ---- Changes to the file tree ----

inline constexpr std::string_view file_deleted = "250 Delete successful";
inline constexpr std::string_view directory_removed = "250 Remove directory successful";
// MKD, also of a directory that already exists. Quotes inside the path are not doubled.
inline std::string directory_created(std::string_view path) {
    return std::string("257 \"").append(path).append("\" created.");
}
inline constexpr std::string_view rename_directory_ready = "350 Directory exists, ready for destination name";
inline constexpr std::string_view rename_file_ready = "350 File exists, ready for destination name";
inline constexpr std::string_view rename_without_source = "503 RNTO without RNFR";
inline constexpr std::string_view renamed = "250 Rename successful";

// ---- Listings and transfers ----

inline std::string cannot_be_listed(std::string_view path) {
    return std::string("550 ").append(path).append(" cannot be listed");
}
// MLST on the control connection: this line, the fact line, then list_end.
inline std::string list_start(std::string_view path) {
    return std::string("250-Start of list for ").append(path);
}
inline constexpr std::string_view list_end = "250 End of list";
// STOU's first reply, with the bare generated name.
inline std::string unique_file_opening(std::string_view name) { return std::string("150 FILE: ").append(name); }
// The transfer engine's first reply; the type changes only this wording.
inline std::string opening_data_connection(bool ascii, std::string_view name) {
    return std::string("150 Opening ").append(ascii ? "ASCII" : "BINARY").append(" mode data connection for ").append(name);
}
inline constexpr std::string_view transfer_complete = "226 Transfer complete";
inline constexpr std::string_view port_accepted = "200 PORT command successful";

// ---- Encrypted connections ----

inline constexpr std::string_view auth_starting = "234 AUTH command ok; starting TLS connection.";
inline constexpr std::string_view auth_already_done = "503 Already using TLS";
inline constexpr std::string_view auth_after_login = "503 AUTH must come before login";
inline constexpr std::string_view auth_unknown_mechanism = "504 Unknown AUTH mechanism";
inline constexpr std::string_view pbsz_accepted = "200 PBSZ=0";
inline constexpr std::string_view prot_private = "200 Protection level set to Private";
inline constexpr std::string_view prot_clear = "200 Protection level set to Clear";
inline constexpr std::string_view prot_safe_refused = "536 Protection level not supported by TLS";
inline constexpr std::string_view prot_level_unknown = "504 Unknown protection level";
inline constexpr std::string_view login_needs_tls = "530 Encryption required: use AUTH TLS before logging in";
inline constexpr std::string_view transfer_needs_tls = "521 Data connections must be encrypted: use PROT P";

}  // namespace ZT::reply
