// Steps that several command handlers share. Each one answers its own refusal or
// failure, so that the handler only learns whether to go on.
#pragma once

#include "fs/native_file.h"
#include "ftp/failure_replies.h"

#include <optional>
#include <string>

namespace ZT {

// The argument as a virtual path (ftp_session::resolve_argument). Any failure,
// a server stop included, is answered "503 Internal error" and gives nothing.
std::optional<std::string> resolve_or_answer(ftp_session& session, const std::string& argument);

// True when the account may not write at the path; "550 Access denied" has then
// been sent.
bool refuse_without_write(ftp_session& session, const std::string& path);

// True when the path's last component may not name a new file (or, with
// `is_directory`, a new directory); "553 File name not allowed" has then been
// sent.
bool refuse_disallowed_name(ftp_session& session, const std::string& path, bool is_directory);

// The attributes of the path (stat_path). A failure that `mapping` answers
// gives nothing; every other one passes on.
std::optional<file_info> stat_or_answer(ftp_session& session, const std::string& path,
                                        const failure_mapping& mapping);

// The attributes of the file at the path, for SIZE and RETR. Every failure of
// stat_path but a server stop is answered (failures::every_failure), and so is a
// directory ("550 Not a file"); nothing is given then.
std::optional<file_info> stat_plain_file(ftp_session& session, const std::string& path);

}  // namespace ZT
