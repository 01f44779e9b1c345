// Commands that change the file tree without a data connection: DELE, RMD, MKD
// and the rename pair RNFR / RNTO. Each checks the account's write permission
// (and, for a new name, the name rule) before it touches anything.
#include "ftp/command_steps.h"
#include "ftp/commands.h"
#include "ftp/failure_replies.h"
#include "ftp/ftp_session.h"

#include "lib/errors.h"

namespace ZT {

bool handle_dele(ftp_session& session, const std::string& argument) {
    const std::string path = session.resolve_argument(argument);  // a failure ends the session
    if (refuse_without_write(session, path)) return true;
    if (answer_failures(session, failures::every_failure, [&] { session.server.delete_file(session.user, path); }))
        session.reply(reply::file_deleted);
    return true;
}

bool handle_rmd(ftp_session& session, const std::string& argument) {
    const std::string path = session.resolve_argument(argument);  // a failure ends the session
    if (refuse_without_write(session, path)) return true;
    if (answer_failures(session, failures::every_failure_or_not_empty,
                        [&] { session.server.remove_directory(session.user, path); }))
        session.reply(reply::directory_removed);
    return true;
}

bool handle_mkd(ftp_session& session, const std::string& argument) {
    const std::optional<std::string> path = resolve_or_answer(session, argument);
    if (!path) return true;
    if (refuse_without_write(session, *path) || refuse_disallowed_name(session, *path, true)) return true;
    // Other file errors are not answered: they end the session.
    const bool created = answer_failures(session, failures::missing_or_denied, [&] {
        try {
            session.server.create_directory(session.user, *path);
        } catch (const file_already_exists&) {
            // An existing directory is what the client asked for.
        }
    });
    if (created) session.reply(reply::directory_created(*path));
    return true;
}

bool handle_rnfr(ftp_session& session, const std::string& argument) {
    const std::string path = session.resolve_argument(argument);  // a failure ends the session
    if (refuse_without_write(session, path)) return true;
    // A missing source is answered and an earlier one stays pending; any other
    // failure ends the session.
    const std::optional<file_info> info = stat_or_answer(session, path, failures::missing);
    if (!info) return true;
    session.rnfr_source = {path, *info};
    session.reply(info->is_directory ? reply::rename_directory_ready : reply::rename_file_ready);
    return true;
}

bool handle_rnto(ftp_session& session, const std::string& argument) {
    if (session.rnfr_source.path.empty()) {
        session.reply(reply::rename_without_source);
        return true;
    }
    // Until the rename itself is tried, every refusal keeps the source pending.
    const std::optional<std::string> target = resolve_or_answer(session, argument);
    if (!target) return true;
    if (refuse_without_write(session, *target) ||
        refuse_disallowed_name(session, *target, session.rnfr_source.info.is_directory))
        return true;
    const std::string source = std::move(session.rnfr_source.path);
    session.rnfr_source = {};
    if (answer_failures(session, failures::missing_or_denied,
                        [&] { session.server.rename_path(session.user, source, *target); }))
        session.reply(reply::renamed);
    return true;
}

}  // namespace ZT
