// The FTP server base: turns each connection into an FTP session and declares
// everything a session needs to know about accounts, passive mode and files.
// The configured server supplies those from the settings and the file system.
#pragma once

#include "fs/file_operations.h"
#include "fs/native_file.h"
#include "ftp/tcp_server.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace ZT {

class ftp_server : public tcp_server {
public:
    // Read by every session; set once by the configured server.
    bool allow_local_codepage = false;

    // The number of the next logged-in session (the first one gets 1).
    std::uint32_t next_session_number() { return ++session_counter_; }

    void run_session(tcp_socket& connection) override;

    virtual void log_line(const std::string& text);
    virtual std::string greeting_text();
    virtual std::uint32_t next_passive_port();
    virtual network_address passive_address();
    virtual bool password_required(const std::string& user);
    virtual bool check_password(const std::string& user, const std::string& password);
    virtual bool is_directory(const std::string& user, const std::string& path);
    virtual bool can_write(const std::string& user, const std::string& path);
    virtual std::vector<directory_entry> list_directory(const std::string& user, const std::string& path) = 0;
    virtual file_info stat_path(const std::string& user, const std::string& path) = 0;
    virtual bool path_exists(const std::string& user, const std::string& path);
    virtual void read_file(const std::string& user, const std::string& path, writable_stream& sink,
                           std::uint64_t offset) = 0;
    virtual void write_file(const std::string& user, const std::string& path, tcp_socket& source,
                            std::uint64_t offset) = 0;
    virtual void rename_path(const std::string& user, const std::string& from, const std::string& to) = 0;
    virtual void delete_file(const std::string& user, const std::string& path) = 0;
    virtual void remove_directory(const std::string& user, const std::string& path) = 0;
    virtual void create_directory(const std::string& user, const std::string& path) = 0;
    virtual bool is_name_allowed(const std::string& user, const std::string& path, bool is_directory);
    virtual std::string resolve_path(const std::string& user, const std::string& current_directory,
                                     const std::string& client_path);

protected:
    explicit ftp_server(std::uint32_t concurrency) : tcp_server(concurrency) {}
    ~ftp_server() = default;

private:
    std::atomic<std::uint32_t> session_counter_{0};
};

}  // namespace ZT
