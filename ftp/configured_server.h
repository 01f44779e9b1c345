// The server that the program runs: accounts from the settings record, files
// under each account's home directory. Building it starts listening.
//
// Ownership and threads: the entry point owns it and the settings record, which
// must outlive it. Every session calls its operations at the same time from
// its own worker thread; they only read the settings, which nothing changes
// after start-up, and work on the file system, which does its own locking. Its
// destructor stops every session before anything of it goes.
#pragma once

#include "config/server_settings.h"
#include "ftp/ftp_server.h"
#include "lib/tls_socket.h"

#include <memory>

namespace ZT {

class configured_server : public ftp_server {
public:
    // Loads the certificate when one is configured (a file that cannot be used
    // throws, naming it), resolves the listening address, binds, listens and
    // starts accepting.
    // `settings` must outlive the server.
    explicit configured_server(const server_settings& settings);
    ~configured_server();

    int next_passive_port(int previous) override;
    network_address passive_address() override;
    bool password_required(const std::string& user) override;
    bool check_password(const std::string& user, const std::string& password) override;
    bool is_directory(const std::string& user, const std::string& path) override;
    bool can_write(const std::string& user, const std::string& path) override;
    std::vector<directory_entry> list_directory(const std::string& user, const std::string& path) override;
    void visit_directory(const std::string& user, const std::string& path, const directory_visitor& visit) override;
    file_info stat_path(const std::string& user, const std::string& path) override;
    void read_file(const std::string& user, const std::string& path, writable_stream& sink,
                   std::uint64_t offset) override;
    void write_file(const std::string& user, const std::string& path, tcp_socket& source,
                    std::uint64_t offset) override;
    void rename_path(const std::string& user, const std::string& from, const std::string& to) override;
    void delete_file(const std::string& user, const std::string& path) override;
    void remove_directory(const std::string& user, const std::string& path) override;
    void create_directory(const std::string& user, const std::string& path) override;
    bool is_name_allowed(const std::string& user, const std::string& path, bool is_directory) override;
    std::string resolve_path(const std::string& user, const std::string& current_directory,
                             const std::string& client_path) override;
    virtual std::string home_directory(const std::string& user);

    // The native path of a virtual path under the account's home; invalid_input
    // for a component that cannot be mapped, file_access_error for a ":" in a
    // component where the platform reads it as a stream (native_names_may_hold_colon).
    std::string to_native_path(const std::string& user, const std::string& path);

private:
    const server_settings* settings_;
    std::unique_ptr<tls_credentials> credentials_;  // when a certificate is configured
};

// The address that the settings ask the server to listen on.
network_address listening_address(const server_settings& settings);

}  // namespace ZT
