// Commands that inspect or change the session's state or ask the file system a
// question: PASS (once logged in), SYST, FEAT, OPTS, CDUP, CWD, PWD, TYPE, SIZE,
// MDTM, NOOP and REST.
#include "ftp/commands.h"
#include "ftp/ftp_session.h"

#include "lib/errors.h"
#include "lib/text.h"

namespace ZT {

namespace {

// The common body of CWD and CDUP.
void change_directory(ftp_session& session, const std::string& path_argument) {
    std::string path;
    try {
        path = session.resolve_argument(path_argument);
    } catch (const std::exception&) {
        session.reply("503 Internal error");
        return;
    }
    // A path that cannot be mapped at all (invalid_input) ends the session.
    if (!session.server.is_directory(session.user, path)) {
        session.reply("550 No such directory");
        return;
    }
    session.current_directory = path;
    session.reply("250 CWD command successful");
}

}  // namespace

bool handle_pass(ftp_session& session, const std::string&) {
    session.reply("230 User " + session.user + " already logged in");
    return true;
}

bool handle_syst(ftp_session& session, const std::string&) {
    session.reply("215 UNIX Type: L8");
    return true;
}

bool handle_feat(ftp_session& session, const std::string&) {
    for (const char* line : {"211-Features", " UTF8", " SIZE", " MLST Type*;Size*;Modify*;", " MDTM", " REST", "211 End"})
        session.reply(line);
    return true;
}

bool handle_opts(ftp_session& session, const std::string& argument) {
    // Both the name and the value end at a zero byte, as the verb does.
    const command_line option = split_command(argument);  // the name comes back upper-cased
    const std::string value = to_upper_ascii(option.argument.substr(0, option.argument.find('\0')));
    if (option.verb == "UTF8") {
        if (value == "ON") {
            session.utf8 = true;
            session.reply("200 UTF8 set to on");
            return true;
        }
        if (value == "OFF") {
            session.utf8 = false;
            session.reply("200 UTF8 set to off");
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
        session.reply("200 MLST options set");
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
    session.reply("257 \"" + session.current_directory + "\" is the current directory");
    return true;
}

bool handle_type(ftp_session& session, const std::string& argument) {
    if (argument == "I" || argument == "A") {
        session.transfer_type = argument;
    } else if (!argument.empty()) {
        session.reply("503 Only BINARY and ASCII types supported");
        return true;
    }
    // The type changes only the wording of the transfer's "150" reply.
    session.reply("200 Type set to " + session.transfer_type);
    return true;
}

bool handle_size(ftp_session& session, const std::string& argument) {
    const std::string path = session.resolve_argument(argument);  // a failure ends the session
    file_info info;
    try {
        info = session.server.stat_path(session.user, path);
    } catch (const user_abort&) {
        throw;
    } catch (const file_not_found&) {
        session.reply("550 No such file or directory");
        return true;
    } catch (const denied&) {
        session.reply("550 Access denied");
        return true;
    } catch (const std::exception&) {
        session.reply("503 Internal error");
        return true;
    }
    if (info.is_directory) {
        session.reply("550 Not a file");
        return true;
    }
    session.reply("213 " + format_uint(info.size));
    return true;
}

bool handle_mdtm(ftp_session& session, const std::string& argument) {
    const std::string path = session.resolve_argument(argument);  // empty: the current directory
    file_info info;
    try {
        info = session.server.stat_path(session.user, path);
    } catch (const file_not_found&) {
        session.reply("550 No such file or directory");
        return true;
    } catch (const denied&) {
        session.reply("550 Access denied");
        return true;
    }
    if (info.is_directory) {
        session.reply("550 Not a plain file");
        return true;
    }
    // A time that no calendar can show ends the session (invalid_input); a time
    // of 0 or past the year 9999 has no fourteen-digit form.
    if (info.last_write_time != 0) system_time_fields(info.last_write_time);
    const std::string time = format_mlst_time(info.last_write_time);
    session.reply(time.empty() ? "503 Internal error" : "213 " + time);
    return true;
}

bool handle_noop(ftp_session& session, const std::string&) {
    session.reply("200 NOOP command successful");
    return true;
}

bool handle_rest(ftp_session& session, const std::string& argument) {
    std::uint64_t offset;
    try {
        offset = parse_uint64(argument);  // digits only: no sign, no spaces
    } catch (const std::exception&) {
        session.reply("503 Internal error");
        return true;
    }
    session.rest_offset = offset;
    session.reply("350 Restarting at " + format_uint(offset) + ". Send STOR or RETR to initiate transfer.");
    return true;
}

}  // namespace ZT
