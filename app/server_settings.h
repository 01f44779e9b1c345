// The settings record the server runs on, built once from the configuration
// file at start-up and read-only afterwards, and the account queries on it.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace ZT {

struct user_account {
    std::string password;
    std::string home;
    bool can_write = false;
};

class server_settings {
public:
    // Finds, prints and loads the configuration file; throws on any error.
    server_settings(int argc, const char* const* argv);

    // Throws "No such user" for a name that is not configured.
    const user_account& find_account(const std::string& name) const;

    bool password_required(const std::string& name) const;
    bool check_password(const std::string& name, const std::string& password) const;
    bool can_write(const std::string& name) const;
    std::string home_directory(const std::string& name) const;

    std::uint32_t concurrency = 128;
    std::uint32_t listen_port = 21;
    std::string listen_address;
    std::string pasv_address;
    std::map<std::string, user_account> users;
    std::set<std::uint32_t> pasv_ports;
    std::map<std::uint32_t, std::uint32_t> pasv_port_ranges;
    bool allow_local_codepage = false;
    int argc = 0;
    const char* const* argv = nullptr;

private:
    void load();
};

// Parses a "pasv-ports" value into the two containers and normalises them.
// Throws "Could not parse PASV ports list" on any error.
void parse_pasv_ports(const std::string& value, std::set<std::uint32_t>& ports,
                      std::map<std::uint32_t, std::uint32_t>& ranges);

}  // namespace ZT
