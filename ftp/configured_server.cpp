#include "ftp/configured_server.h"

#include "data/passive_mode.h"
#include "fs/virtual_path.h"
#include "lib/errors.h"
#include "lib/socket_api.h"

#include <stdexcept>

namespace ZT {

namespace {

// The home is the account's root, not one of its folders: removing or moving it
// would lock the account out until an administrator made it again.
void refuse_home(const std::string& path) {
    if (names_home(path)) throw denied();
}

}  // namespace

network_address listening_address(const server_settings& settings) {
    network_address address = network_address::any_ipv4();
    if (!settings.listen_address.empty()) {
        const std::vector<address_info> found = resolve_address(settings.listen_address, "", AF_INET);
        if (found.empty()) throw std::runtime_error("Unable to determine network address");
        address = found.front().address;
    }
    if (settings.listen_port != 0) {
        if (address.size() != sizeof(sockaddr_in)) throw invalid_input();
        address.set_port(static_cast<std::uint16_t>(settings.listen_port & 0xFFFF));
    }
    return address;
}

configured_server::configured_server(const server_settings& settings)
    : ftp_server(settings.concurrency), settings_(&settings) {
    const network_address address = listening_address(settings);
    allow_local_codepage = settings.allow_local_codepage;
    balancers_ = settings.proxy_from;
    // A certificate that cannot be used stops the start, before listening.
    if (!settings.tls_certificate.empty()) {
        credentials_ = std::make_unique<tls_credentials>(settings.tls_certificate, settings.tls_password);
        tls_ = credentials_.get();
        tls_required_ = settings.tls_required;
    }
    listen(address);
}

// Sessions call back into this object, so they end before any part of it goes.
configured_server::~configured_server() { stop_serving(); }

int configured_server::next_passive_port(int previous) {
    return next_configured_passive_port(settings_->pasv_ports, settings_->pasv_port_ranges, previous);
}

network_address configured_server::passive_address() {
    if (settings_->pasv_address.empty()) return network_address::any_ipv4();
    const std::vector<address_info> found = resolve_address(settings_->pasv_address, "", AF_INET);
    if (found.empty()) throw std::runtime_error("Unable to determine network address");
    return found.front().address;
}

bool configured_server::password_required(const std::string& user) { return settings_->password_required(user); }

bool configured_server::check_password(const std::string& user, const std::string& password) {
    return settings_->check_password(user, password);
}

bool configured_server::can_write(const std::string& user, const std::string&) { return settings_->can_write(user); }

std::string configured_server::home_directory(const std::string& user) { return settings_->home_directory(user); }

std::string configured_server::to_native_path(const std::string& user, const std::string& path) {
    std::string native = ZT::to_native_path(home_directory(user), path, native_separator_char());
    // Where ":" names a stream of a file or the folder itself, such a path names
    // nothing the client may reach, whatever the file system under the home.
    if (!native_names_may_hold_colon() && path.find(':') != std::string::npos) throw file_access_error();
    return native;
}

bool configured_server::is_name_allowed(const std::string&, const std::string& path, bool) {
    return is_allowed_name(path);
}

std::string configured_server::resolve_path(const std::string& user, const std::string& current_directory,
                                            const std::string& client_path) {
    // The home only matters (and an unknown account only fails) for drive-letter paths.
    const std::string home = has_drive_letter_form(client_path) ? home_directory(user) : std::string();
    return resolve_client_path(home, current_directory, client_path);
}

bool configured_server::is_directory(const std::string& user, const std::string& path) {
    return is_directory_path(to_native_path(user, path));
}

std::vector<directory_entry> configured_server::list_directory(const std::string& user, const std::string& path) {
    return list_native_directory(to_native_path(user, path));
}

void configured_server::visit_directory(const std::string& user, const std::string& path,
                                        const directory_visitor& visit) {
    visit_native_directory(to_native_path(user, path), visit);
}

file_info configured_server::stat_path(const std::string& user, const std::string& path) {
    return get_file_info(to_native_path(user, path));
}

void configured_server::read_file(const std::string& user, const std::string& path, writable_stream& sink,
                                  std::uint64_t offset) {
    read_native_file(to_native_path(user, path), sink, offset);
}

void configured_server::write_file(const std::string& user, const std::string& path, tcp_socket& source,
                                   std::uint64_t offset) {
    const std::string native = to_native_path(user, path);
    source.set_timeout(60.0);  // an upload whose client goes silent ends
    write_native_file(native, source, offset);
}

void configured_server::rename_path(const std::string& user, const std::string& from, const std::string& to) {
    refuse_home(from);
    refuse_home(to);
    move_path(to_native_path(user, from), to_native_path(user, to));
}

void configured_server::delete_file(const std::string& user, const std::string& path) {
    refuse_home(path);
    delete_file_path(to_native_path(user, path));
}

void configured_server::remove_directory(const std::string& user, const std::string& path) {
    refuse_home(path);
    remove_directory_path(to_native_path(user, path));
}

void configured_server::create_directory(const std::string& user, const std::string& path) {
    create_directory_path(to_native_path(user, path));
}

}  // namespace ZT
