// How a command answers the failure of a step. Around the one step of a command
// that can fail for the client's reasons, the handler picks one of the named
// mappings below: it says which exceptions get which fixed reply. Every exception
// that the mapping does not answer passes on unchanged and ends the session
// without a reply.
#pragma once

#include "ftp/ftp_session.h"
#include "ftp/replies.h"

#include <string_view>

namespace ZT {

// The reply to each kind of exception, or failures::passes_on. The kinds are
// told apart in this order: user_abort (a server stop), file_not_found, denied,
// directory_not_empty, any other file_access_error (file_already_exists among
// them), then any other std::exception. An exception that is no std::exception
// is never answered.
struct failure_mapping {
    std::string_view on_user_abort;
    std::string_view on_file_not_found;
    std::string_view on_denied;
    std::string_view on_directory_not_empty;
    std::string_view on_other_file_error;  // file_already_exists and every other file_access_error
    std::string_view on_other;
};

namespace failures {

// Not answered: the exception passes on and ends the session.
inline constexpr std::string_view passes_on{};

// A missing file only: RNFR's look at its source.
inline constexpr failure_mapping missing{
    .on_user_abort = passes_on,
    .on_file_not_found = reply::no_such_file,
    .on_denied = passes_on,
    .on_directory_not_empty = passes_on,
    .on_other_file_error = passes_on,
    .on_other = passes_on,
};

// A missing file or a refusal: MKD's create_directory, RNTO's rename_path and
// MDTM's stat_path.
inline constexpr failure_mapping missing_or_denied{
    .on_user_abort = passes_on,
    .on_file_not_found = reply::no_such_file,
    .on_denied = reply::access_denied,
    .on_directory_not_empty = passes_on,
    .on_other_file_error = passes_on,
    .on_other = passes_on,
};

// Every failure but a server stop; a directory that is not empty is a failure
// like any other: DELE's delete_file, and the stat_path of SIZE and RETR.
inline constexpr failure_mapping every_failure{
    .on_user_abort = passes_on,
    .on_file_not_found = reply::no_such_file,
    .on_denied = reply::access_denied,
    .on_directory_not_empty = reply::command_failed,
    .on_other_file_error = reply::command_failed,
    .on_other = reply::command_failed,
};

// As every_failure, with a directory that is not empty answered as such: RMD's
// remove_directory.
inline constexpr failure_mapping every_failure_or_not_empty{
    .on_user_abort = passes_on,
    .on_file_not_found = reply::no_such_file,
    .on_denied = reply::access_denied,
    .on_directory_not_empty = reply::directory_not_empty,
    .on_other_file_error = reply::command_failed,
    .on_other = reply::command_failed,
};

// Every std::exception alike, a server stop included: the steps that only
// compute, resolving a path argument (CWD, CDUP, MKD, RNTO, STOR, APPE, STOU)
// and parsing REST's number.
inline constexpr failure_mapping any_exception{
    .on_user_abort = reply::command_failed,
    .on_file_not_found = reply::command_failed,
    .on_denied = reply::command_failed,
    .on_directory_not_empty = reply::command_failed,
    .on_other_file_error = reply::command_failed,
    .on_other = reply::command_failed,
};

// A file error of a passive transfer's body: a missing file as such, every
// other file error as a refusal; anything else (a network failure, a server
// stop) passes on and ends the session.
inline constexpr failure_mapping transfer_file_errors{
    .on_user_abort = passes_on,
    .on_file_not_found = reply::no_such_file,
    .on_denied = passes_on,
    .on_directory_not_empty = reply::access_denied,
    .on_other_file_error = reply::access_denied,
    .on_other = passes_on,
};

}  // namespace failures

// Only inside a catch block: the reply that `mapping` gives the exception being
// handled. When the mapping does not answer it, rethrows that same exception.
std::string_view failure_reply(const failure_mapping& mapping);

// Runs `operation`. Returns true when it succeeded. When it threw an exception
// that `mapping` answers, sends that reply and returns false; every other
// exception passes on.
template <typename Operation>
bool answer_failures(ftp_session& session, const failure_mapping& mapping, Operation&& operation) {
    try {
        operation();
        return true;
    } catch (...) {
        session.reply(failure_reply(mapping));
        return false;
    }
}

}  // namespace ZT
