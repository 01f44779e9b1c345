// Commands that inspect or change the session's state or ask the file system a
// question: PASS (once logged in), SYST, FEAT, OPTS, CDUP, CWD, PWD, TYPE, SIZE,
// MDTM, NOOP and REST.
#include "ftp/command_steps.h"
#include "ftp/commands.h"
#include "ftp/failure_replies.h"
#include "ftp/ftp_session.h"

#include "lib/text.h"

#include <iterator>

namespace ZT {

namespace {

// The common body of CWD and CDUP.
void change_directory(ftp_session& session, const std::string& path_argument) {
    const std::optional<std::string> path = resolve_or_answer(session, path_argument);
    if (!path) return;
    // A path that cannot be mapped at all (invalid_input) ends the session.
    if (!session.server.is_directory(session.user, *path)) {
        session.reply(reply::no_such_directory);
        return;
    }
    session.current_directory = *path;
    session.reply(reply::directory_changed);
}

}  // namespace

bool handle_pass(ftp_session& session, const std::string&) {
    session.reply(reply::already_logged_in(session.user));
    return true;
}

bool handle_syst(ftp_session& session, const std::string&) {
    session.reply(reply::system_type);
    return true;
}

bool handle_feat(ftp_session& session, const std::string&) {
    const std::size_t last = std::size(reply::feature_lines) - 1;
    for (std::size_t i = 0; i < last; ++i) session.reply(reply::feature_lines[i]);
    if (session.security.offered()) {
        for (const std::string_view line : reply::tls_feature_lines) session.reply(line);
    }
    session.reply(reply::feature_lines[last]);
    return true;
}

bool handle_opts(ftp_session& session, const std::string& argument) {
    // Both the name and the value end at a zero byte, as the verb does.
    const command_line option = split_command(argument);  // the name comes back upper-cased
    const std::string value = to_upper_ascii(option.argument.substr(0, option.argument.find('\0')));
    if (option.verb == "UTF8") {
        if (value == "ON") {
            session.utf8 = true;
            session.reply(reply::utf8_on);
            return true;
        }
        if (value == "OFF") {
            session.utf8 = false;
            session.reply(reply::utf8_off);
            return true;
        }
        return false;
    }
    if (option.verb == "MLST") {
        // Names accumulate over every OPTS MLST; the set is never emptied.
        std::string::size_type start = 0;
        while (start <= value.size()) {
            std::string::size_type end = value.find(';', start);
            if (end == std::string::npos) end = value.size();
            if (end > start) session.mlst_facts.names.insert(value.substr(start, end - start));
            start = end + 1;
        }
        session.mlst_facts.chosen = true;
        session.reply(reply::mlst_options_set);
        return true;
    }
    return false;
}

bool handle_cdup(ftp_session& session, const std::string&) {
    change_directory(session, "..");
    return true;
}

bool handle_cwd(ftp_session& session, const std::string& argument) {
    change_directory(session, argument);
    return true;
}

bool handle_pwd(ftp_session& session, const std::string&) {
    // The path goes out in UTF-8 whatever the client's encoding; quotes inside
    // it are not doubled.
    session.reply(reply::current_directory(session.current_directory));
    return true;
}

bool handle_type(ftp_session& session, const std::string& argument) {
    if (argument == "I" || argument == "A") {
        session.transfer_type = argument;
    } else if (!argument.empty()) {
        session.reply(reply::type_not_supported);
        return true;
    }
    // The type changes only the wording of the transfer's "150" reply.
    session.reply(reply::type_set(session.transfer_type));
    return true;
}

bool handle_size(ftp_session& session, const std::string& argument) {
    const std::string path = session.resolve_argument(argument);  // a failure ends the session
    if (const std::optional<file_info> info = stat_plain_file(session, path))
        session.reply(reply::file_size(info->size));
    return true;
}

bool handle_mdtm(ftp_session& session, const std::string& argument) {
    const std::string path = session.resolve_argument(argument);  // empty: the current directory
    const std::optional<file_info> info = stat_or_answer(session, path, failures::missing_or_denied);
    if (!info) return true;
    if (info->is_directory) {
        session.reply(reply::not_a_plain_file);
        return true;
    }
    // A time that no calendar can show ends the session (invalid_input); a time
    // of 0 or past the year 9999 has no fourteen-digit form.
    if (info->last_write_time != 0) system_time_fields(info->last_write_time);
    const std::string time = format_mlst_time(info->last_write_time);
    if (time.empty()) {
        session.reply(reply::command_failed);
        return true;
    }
    session.reply(reply::modification_time(time));
    return true;
}

bool handle_noop(ftp_session& session, const std::string&) {
    session.reply(reply::noop);
    return true;
}

bool handle_rest(ftp_session& session, const std::string& argument) {
    std::uint64_t offset = 0;
    // Digits only: no sign, no spaces. Any failure leaves the offset as it was.
    if (!answer_failures(session, failures::any_exception, [&] { offset = parse_uint64(argument); })) return true;
    session.rest_offset = offset;
    session.reply(reply::restarting_at(offset));
    return true;
}

bool handle_auth(ftp_session& session, const std::string& argument) {
    return answer_security_command(session.security, session.channel, {"AUTH", argument}, true);
}

bool handle_pbsz(ftp_session& session, const std::string& argument) {
    return answer_security_command(session.security, session.channel, {"PBSZ", argument}, true);
}

bool handle_prot(ftp_session& session, const std::string& argument) {
    return answer_security_command(session.security, session.channel, {"PROT", argument}, true);
}

}  // namespace ZT
