// The four listing texts of the FTP server base, built on visit_directory (the
// entries of list_directory) and stat_path. A listing never fails for the
// client's reasons: whatever goes wrong on the way ends the text where it
// stands, and only a server stop (user_abort) passes through.
#include "ftp/ftp_server.h"
#include "ftp/listing_buffers.h"

#include "lib/errors.h"
#include "lib/system_clock.h"

namespace ZT {

namespace {

constexpr const char* line_end = "\r\n";

// Runs `build` over `text`; any failure but user_abort keeps the text so far.
// The text is built in the memory of an earlier listing when one is kept.
template <typename Build>
std::string keep_what_was_built(Build build) {
    std::string text = take_listing_buffer();
    try {
        build(text);
    } catch (const user_abort&) {
        throw;
    } catch (...) {
    }
    return text;
}

file_info directory_only() {
    file_info info;
    info.is_directory = true;
    return info;
}

}  // namespace

void ftp_server::visit_directory(const std::string& user, const std::string& path, const directory_visitor& visit) {
    for (const directory_entry& entry : list_directory(user, path)) visit(entry);
}

std::string ftp_server::format_mlsd_listing(const std::string& user, const std::string& path,
                                            const mlst_fact_set& facts) {
    return keep_what_was_built([&](std::string& text) {
        visit_directory(user, path, [&](const directory_entry& entry) {
            if (entry.info.is_hidden) return;
            append_mlst_line(text, entry.info, entry.name, facts);
            text += line_end;
        });
    });
}

std::string ftp_server::format_list_listing(const std::string& user, const std::string& path) {
    return keep_what_was_built([&](std::string& text) {
        const time_fields now = system_time_fields(current_file_time());
        visit_directory(user, path, [&](const directory_entry& entry) {
            if (entry.info.is_hidden) return;
            append_list_line(text, entry.info, entry.name, now);
            text += line_end;
        });
        // The directory itself and, below the root, its parent come last.
        append_list_line(text, directory_only(), ".", now);
        text += line_end;
        if (path != "/") {
            append_list_line(text, directory_only(), "..", now);
            text += line_end;
        }
    });
}

std::string ftp_server::format_nlst_listing(const std::string& user, const std::string& path) {
    return keep_what_was_built([&](std::string& text) {
        visit_directory(user, path, [&](const directory_entry& entry) {
            if (entry.info.is_hidden) return;
            text += entry.name;
            text += line_end;
        });
    });
}

std::string ftp_server::format_mlst_entry(const std::string& user, const std::string& path,
                                          const mlst_fact_set& facts) {
    return keep_what_was_built(
        [&](std::string& text) { text = format_mlst_line(stat_path(user, path), path, facts) + line_end; });
}

}  // namespace ZT
