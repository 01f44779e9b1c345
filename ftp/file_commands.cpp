// Commands that change the file tree without a data connection: DELE, RMD, MKD
// and the rename pair RNFR / RNTO. Each checks the account's write permission
// (and, for a new name, the name rule) before it touches anything.
#include "ftp/commands.h"
#include "ftp/ftp_session.h"

#include "lib/errors.h"

namespace ZT {

namespace {

bool refuse_without_write(ftp_session& session, const std::string& path) {
    if (session.server.can_write(session.user, path)) return false;
    session.reply("550 Access denied");
    return true;
}

// DELE and RMD answer every failure of their operation; only a server stop
// passes through. A directory that is not empty is worth its own reply only to
// RMD (`not_empty` null: an internal error like any other).
template <typename Operation>
void remove_entry(ftp_session& session, Operation operation, const char* success, const char* not_empty) {
    try {
        operation();
    } catch (const user_abort&) {
        throw;
    } catch (const directory_not_empty&) {
        session.reply(not_empty ? not_empty : "503 Internal error");
        return;
    } catch (const file_not_found&) {
        session.reply("550 No such file or directory");
        return;
    } catch (const denied&) {
        session.reply("550 Access denied");
        return;
    } catch (const std::exception&) {
        session.reply("503 Internal error");
        return;
    }
    session.reply(success);
}

}  // namespace

bool handle_dele(ftp_session& session, const std::string& argument) {
    const std::string path = session.resolve_argument(argument);  // a failure ends the session
    if (refuse_without_write(session, path)) return true;
    remove_entry(session, [&] { session.server.delete_file(session.user, path); }, "250 Delete successful", nullptr);
    return true;
}

bool handle_rmd(ftp_session& session, const std::string& argument) {
    const std::string path = session.resolve_argument(argument);  // a failure ends the session
    if (refuse_without_write(session, path)) return true;
    remove_entry(session, [&] { session.server.remove_directory(session.user, path); },
                 "250 Remove directory successful", "550 Directory not empty");
    return true;
}

bool handle_mkd(ftp_session& session, const std::string& argument) {
    std::string path;
    try {
        path = session.resolve_argument(argument);
    } catch (const std::exception&) {
        session.reply("503 Internal error");
        return true;
    }
    if (refuse_without_write(session, path)) return true;
    if (!session.server.is_name_allowed(session.user, path, true)) {
        session.reply("553 File name not allowed");
        return true;
    }
    // Other file errors are not answered: they end the session.
    try {
        session.server.create_directory(session.user, path);
    } catch (const file_already_exists&) {
        // An existing directory is what the client asked for.
    } catch (const file_not_found&) {
        session.reply("550 No such file or directory");
        return true;
    } catch (const denied&) {
        session.reply("550 Access denied");
        return true;
    }
    session.reply("257 \"" + path + "\" created.");
    return true;
}

bool handle_rnfr(ftp_session& session, const std::string& argument) {
    const std::string path = session.resolve_argument(argument);  // a failure ends the session
    if (refuse_without_write(session, path)) return true;
    file_info info;
    try {
        info = session.server.stat_path(session.user, path);
    } catch (const file_not_found&) {
        // An earlier source stays pending.
        session.reply("550 No such file or directory");
        return true;
    }
    session.rnfr_source = {path, info};
    session.reply(info.is_directory ? "350 Directory exists, ready for destination name"
                                    : "350 File exists, ready for destination name");
    return true;
}

bool handle_rnto(ftp_session& session, const std::string& argument) {
    if (session.rnfr_source.path.empty()) {
        session.reply("503 RNTO without RNFR");
        return true;
    }
    // Until the rename itself is tried, every refusal keeps the source pending.
    std::string target;
    try {
        target = session.resolve_argument(argument);
    } catch (const std::exception&) {
        session.reply("503 Internal error");
        return true;
    }
    if (refuse_without_write(session, target)) return true;
    if (!session.server.is_name_allowed(session.user, target, session.rnfr_source.info.is_directory)) {
        session.reply("553 File name not allowed");
        return true;
    }
    const std::string source = std::move(session.rnfr_source.path);
    session.rnfr_source = {};
    try {
        session.server.rename_path(session.user, source, target);
    } catch (const file_not_found&) {
        session.reply("550 No such file or directory");
        return true;
    } catch (const denied&) {
        session.reply("550 Access denied");
        return true;
    }
    session.reply("250 Rename successful");
    return true;
}

}  // namespace ZT
