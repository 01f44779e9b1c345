// The settings record the server runs on, built once from the configuration
// file at start-up and read-only afterwards, and the account queries on it.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace ZT {

class ini_file;

struct user_account {
    std::string password;
    std::string home;
    bool can_write = false;
};

class server_settings {
public:
    // Finds the configuration file (find_config_path over the arguments), prints
    // its path, loads it and applies it over the defaults; throws on any error.
    // Defined with the entry point (app/settings_from_command_line.cpp), which
    // owns the configuration search and the console.
    server_settings(int argc, const char* const* argv);
    // The defaults with an already parsed configuration applied over them; the
    // same rules and errors as above, without any file.
    explicit server_settings(const ini_file& ini);

    // Throws "No such user" for a name that is not configured.
    const user_account& find_account(const std::string& name) const;

    // True unless the account exists and has the empty password.
    bool password_required(const std::string& name) const;
    // True when the account exists and its password is exactly `password`.
    bool check_password(const std::string& name, const std::string& password) const;
    // The account's write flag; throws "No such user" for an unknown name.
    bool can_write(const std::string& name) const;
    // The account's home; throws "No such user" for an unknown name.
    std::string home_directory(const std::string& name) const;

    std::uint32_t concurrency = 128;
    std::uint32_t listen_port = 21;
    std::string listen_address;
    std::string pasv_address;
    std::map<std::string, user_account> users;
    std::set<std::uint32_t> pasv_ports;
    std::map<std::uint32_t, std::uint32_t> pasv_port_ranges;
    bool allow_local_codepage = false;
    // Encrypted connections: the PKCS#12 file of the certificate (empty: none
    // are offered), its password, and whether logins and transfers must be
    // encrypted.
    std::string tls_certificate;
    std::string tls_password;
    bool tls_required = false;
    // The balancers whose connections begin with a header naming the real
    // client (IPv4 addresses in host byte order); empty: none.
    std::vector<std::uint32_t> proxy_from;
    int argc = 0;
    const char* const* argv = nullptr;

private:
    void apply(const ini_file& ini);
};

// Parses a "pasv-ports" value into the two containers (replacing what they held)
// and normalises them: ranges neither overlap nor touch, and no single port lies
// inside a range. Port numbers above 65535 are refused. Throws "Could not parse
// PASV ports list" on any error, leaving both containers unchanged.
void parse_pasv_ports(const std::string& value, std::set<std::uint32_t>& ports,
                      std::map<std::uint32_t, std::uint32_t>& ranges);

// Parses a "proxy-from" value: IPv4 addresses separated by commas, spaces
// around each allowed, an empty value meaning none. Throws "Could not parse
// proxy-from list" for anything else.
std::vector<std::uint32_t> parse_proxy_from(const std::string& value);

}  // namespace ZT
