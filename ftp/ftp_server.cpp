#include "ftp/ftp_server.h"

#include "fs/virtual_path.h"
#include "lib/errors.h"

namespace ZT {

// Sessions write no log.
void ftp_server::log_line(const std::string&) {}

int ftp_server::next_passive_port(int) { return 0; }

network_address ftp_server::passive_address() { return network_address::any_ipv4(); }

bool ftp_server::password_required(const std::string&) { return false; }

bool ftp_server::check_password(const std::string&, const std::string&) { return false; }

bool ftp_server::is_directory(const std::string&, const std::string&) { return true; }

bool ftp_server::can_write(const std::string&, const std::string&) { return false; }

bool ftp_server::path_exists(const std::string& user, const std::string& path) {
    try {
        stat_path(user, path);
        return true;
    } catch (const file_not_found&) {
        return false;
    }
}

bool ftp_server::is_name_allowed(const std::string&, const std::string&, bool) { return true; }

std::string ftp_server::resolve_path(const std::string&, const std::string& current_directory,
                                     const std::string& client_path) {
    return resolve_relative_path(current_directory, client_path);
}

}  // namespace ZT
