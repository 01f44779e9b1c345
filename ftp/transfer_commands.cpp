// Commands that prepare a data connection or move data over one: PASV, PORT,
// LIST, NLST, MLSD, MLST, RETR, STOR, APPE and STOU. Listing texts are built
// completely before the data connection opens.
#include "ftp/command_steps.h"
#include "ftp/commands.h"
#include "ftp/ftp_session.h"
#include "ftp/listing_buffers.h"
#include "ftp/replies.h"

#include "ftp/data_connection.h"
#include "ftp/transfer_engine.h"
#include "data/unique_file_name.h"
#include "fs/file_operations.h"
#include "lib/errors.h"
#include "lib/system_clock.h"

#include <optional>
#include <utility>

namespace ZT {

namespace {

// Sends a listing text; its memory then serves a later listing.
void send_text(ftp_session& session, const std::string& name, std::string text) {
    transfer_data(session, name, std::nullopt, [&text](tcp_socket& data) { data.write(text.data(), text.size()); });
    give_back_listing_buffer(std::move(text));
}

// The entry that LIST or NLST names, when it is a file. Anything else (a
// directory, a path that cannot be examined) is listed as a directory.
std::optional<file_info> named_file(ftp_session& session, const std::string& argument, const std::string& path) {
    if (argument.empty()) return std::nullopt;
    try {
        const file_info info = session.server.stat_path(session.user, path);
        if (!info.is_directory) return info;
    } catch (const user_abort&) {
        throw;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

// STOR, APPE and STOU: the path an upload may write, or nothing once a failed
// resolution or a refusal has been answered.
std::optional<std::string> upload_target(ftp_session& session, const std::string& path_argument) {
    std::optional<std::string> path = resolve_or_answer(session, path_argument);
    if (!path || refuse_without_write(session, *path) || refuse_disallowed_name(session, *path, false))
        return std::nullopt;
    return path;
}

// The upload itself: the data connection's bytes written into the file at
// `offset` (append_offset: at its end).
void upload(ftp_session& session, const std::string& path, const std::string& name,
            const std::optional<std::string>& first_reply, std::uint64_t offset) {
    transfer_data(session, name, first_reply, [&session, path, offset](tcp_socket& data) {
        session.server.write_file(session.user, path, data, offset);
    });
}

}  // namespace

bool handle_pasv(ftp_session& session, const std::string&) {
    open_passive_listener(session);
    return true;
}

bool handle_port(ftp_session& session, const std::string& argument) {
    store_port_address(session, argument);
    return true;
}

bool handle_list(ftp_session& session, const std::string& argument) {
    // The two common options are taken as "no argument"; anything else,
    // "-la" included, is a path.
    const std::string operand = argument == "-l" || argument == "-a" ? std::string() : argument;
    const std::string path = session.resolve_argument(operand);  // a failure ends the session
    std::string text;
    if (const std::optional<file_info> file = named_file(session, operand, path)) {
        // A file is listed under the name exactly as the client typed it.
        text = format_list_line(*file, operand, system_time_fields(current_file_time())) + "\r\n";
    } else {
        text = session.encode_for_client(session.server.format_list_listing(session.user, path));
    }
    send_text(session, "LIST", std::move(text));
    return true;
}

bool handle_nlst(ftp_session& session, const std::string& argument) {
    const std::string path = session.resolve_argument(argument);  // a failure ends the session
    std::string text;
    if (named_file(session, argument, path)) {
        text = argument + "\r\n";
    } else {
        text = session.encode_for_client(session.server.format_nlst_listing(session.user, path));
    }
    send_text(session, "NLST", std::move(text));
    return true;
}

bool handle_mlsd(ftp_session& session, const std::string& argument) {
    const std::string path = session.resolve_argument(argument);  // a failure ends the session
    send_text(session, "MLSD",
              session.encode_for_client(session.server.format_mlsd_listing(session.user, path, session.mlst_facts)));
    return true;
}

bool handle_mlst(ftp_session& session, const std::string& argument) {
    const std::string path = session.resolve_argument(argument);  // a failure ends the session
    const std::string text =
        session.encode_for_client(session.server.format_mlst_entry(session.user, path, session.mlst_facts));
    // The path in these replies is the resolved one, in UTF-8 whatever the
    // client's encoding.
    if (text.empty()) {
        session.reply(reply::cannot_be_listed(path));
        return true;
    }
    if (data_connection_prepared(session)) {
        send_text(session, "MLST", text);
        return true;
    }
    session.reply(reply::list_start(path));
    // The fact line, after one space, as a line of the reply: its own CR LF is
    // the reply's line end, and no break inside its name can split the reply.
    session.reply(std::string(" ").append(text, 0, text.size() - 2));
    session.reply(reply::list_end);
    return true;
}

bool handle_retr(ftp_session& session, const std::string& argument) {
    const std::string path = session.resolve_argument(argument);  // a failure ends the session
    // The restart offset serves this RETR only, whatever happens to it.
    const std::uint64_t offset = std::exchange(session.rest_offset, 0);
    if (!stat_plain_file(session, path)) return true;
    transfer_data(session, argument, std::nullopt, [&session, path, offset](tcp_socket& data) {
        session.server.read_file(session.user, path, data, offset);
    });
    return true;
}

bool handle_stor(ftp_session& session, const std::string& argument) {
    const std::optional<std::string> path = upload_target(session, argument);
    if (!path) return true;
    // The restart offset serves this STOR only, once its checks have passed.
    const std::uint64_t offset = std::exchange(session.rest_offset, 0);
    upload(session, *path, argument, std::nullopt, offset);
    return true;
}

bool handle_appe(ftp_session& session, const std::string& argument) {
    // The restart offset is left for a later RETR or STOR.
    if (const std::optional<std::string> path = upload_target(session, argument))
        upload(session, *path, argument, std::nullopt, append_offset);
    return true;
}

bool handle_stou(ftp_session& session, const std::string&) {
    const std::string name = unique_file_name();  // a failure ends the session
    // A new file in the current directory; the restart offset is left as it is.
    if (const std::optional<std::string> path = upload_target(session, name))
        upload(session, *path, name, reply::unique_file_opening(name), 0);
    return true;
}

}  // namespace ZT
