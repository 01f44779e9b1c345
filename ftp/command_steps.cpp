#include "ftp/command_steps.h"

namespace ZT {

std::optional<std::string> resolve_or_answer(ftp_session& session, const std::string& argument) {
    std::string path;
    if (!answer_failures(session, failures::any_exception, [&] { path = session.resolve_argument(argument); }))
        return std::nullopt;
    return path;
}

bool refuse_without_write(ftp_session& session, const std::string& path) {
    if (session.server.can_write(session.user, path)) return false;
    session.reply(reply::access_denied);
    return true;
}

bool refuse_disallowed_name(ftp_session& session, const std::string& path, bool is_directory) {
    if (session.server.is_name_allowed(session.user, path, is_directory)) return false;
    session.reply(reply::name_not_allowed);
    return true;
}

std::optional<file_info> stat_or_answer(ftp_session& session, const std::string& path,
                                        const failure_mapping& mapping) {
    file_info info;
    if (!answer_failures(session, mapping, [&] { info = session.server.stat_path(session.user, path); }))
        return std::nullopt;
    return info;
}

std::optional<file_info> stat_plain_file(ftp_session& session, const std::string& path) {
    const std::optional<file_info> info = stat_or_answer(session, path, failures::every_failure);
    if (!info) return std::nullopt;
    if (info->is_directory) {
        session.reply(reply::not_a_file);
        return std::nullopt;
    }
    return info;
}

}  // namespace ZT
