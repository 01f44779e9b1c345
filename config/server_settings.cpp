#include "config/server_settings.h"

#include "config/ini_file.h"
#include "data/passive_mode.h"
#include "lib/errors.h"

#include <iterator>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace ZT {

namespace {

constexpr std::uint32_t highest_port = 65535;

bool is_port_separator(char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == ',' || c == ';';
}

std::uint32_t parse_port(std::string_view text) {
    const std::uint32_t port = parse_uint32(text);
    // A larger number could never be bound; refusing it here reports the mistake
    // at start-up instead of at every PASV.
    if (port > highest_port) throw invalid_input();
    return port;
}

void add_pasv_token(std::string_view token, std::set<std::uint32_t>& ports,
                    std::map<std::uint32_t, std::uint32_t>& ranges) {
    std::string_view::size_type separator = token.find('-');
    if (separator == std::string_view::npos) separator = token.find(':');
    if (separator == std::string_view::npos) {
        ports.insert(parse_port(token));
        return;
    }
    const std::uint32_t first = parse_port(token.substr(0, separator));
    const std::uint32_t last = parse_port(token.substr(separator + 1));
    if (first > last) throw invalid_input();
    const auto [entry, inserted] = ranges.emplace(first, last);
    if (!inserted && entry->second < last) entry->second = last;
}

void normalise_pasv_ports(std::set<std::uint32_t>& ports, std::map<std::uint32_t, std::uint32_t>& ranges) {
    if (!ranges.empty()) {
        auto current = ranges.begin();
        for (auto next = std::next(current); next != ranges.end();) {
            // next->first is above current->first, so next->first - 1 cannot wrap.
            if (next->first - 1 <= current->second) {
                if (current->second < next->second) current->second = next->second;
                next = ranges.erase(next);
            } else {
                current = next++;
            }
        }
    }

    for (auto port = ports.begin(); port != ports.end();) {
        auto range = ranges.upper_bound(*port);
        if (range != ranges.begin() && *port <= std::prev(range)->second) {
            port = ports.erase(port);
        } else {
            ++port;
        }
    }
}

}  // namespace

void parse_pasv_ports(const std::string& value, std::set<std::uint32_t>& ports,
                      std::map<std::uint32_t, std::uint32_t>& ranges) {
    std::set<std::uint32_t> new_ports;
    std::map<std::uint32_t, std::uint32_t> new_ranges;
    try {
        std::string_view rest(value);
        while (!rest.empty()) {
            std::string_view::size_type end = 0;
            while (end < rest.size() && !is_port_separator(rest[end])) ++end;
            if (end != 0) add_pasv_token(rest.substr(0, end), new_ports, new_ranges);
            rest.remove_prefix(end < rest.size() ? end + 1 : end);
        }
        normalise_pasv_ports(new_ports, new_ranges);
    } catch (const std::exception&) {
        throw std::runtime_error("Could not parse PASV ports list");
    }
    ports.swap(new_ports);
    ranges.swap(new_ranges);
}

server_settings::server_settings(const ini_file& ini) { apply(ini); }

void server_settings::apply(const ini_file& ini) {
    // Only the first "config" section counts.
    if (const ini_section* config = ini.find_section("config")) {
        if (const auto value = config->find("concurrency")) concurrency = parse_uint32(*value);
        if (const auto value = config->find("listen-port")) listen_port = parse_uint32(*value);
        if (const auto value = config->find("listen-address")) listen_address = *value;
        if (const auto value = config->find("pasv-address")) pasv_address = *value;
        if (const auto value = config->find("pasv-ports")) parse_pasv_ports(*value, pasv_ports, pasv_port_ranges);
        if (const auto value = config->find("allow-local-codepage")) parse_bool(*value, allow_local_codepage);
        if (const auto value = config->find("tls-certificate")) tls_certificate = *value;
        if (const auto value = config->find("tls-password")) tls_password = *value;
        if (const auto value = config->find("tls-required")) parse_bool(*value, tls_required);
        if (const auto value = config->find("proxy-from")) proxy_from = parse_proxy_from(*value);
    }

    for (const ini_section* section : ini.sections_named("user")) {
        const auto name = section->find("name");
        if (!name) throw std::runtime_error("No user name specified");
        user_account account;
        if (const auto password = section->find("password")) account.password = *password;
        if (const auto can_write = section->find("can-write")) parse_bool(*can_write, account.can_write);
        const auto home = section->find("home");
        if (!home) throw std::runtime_error("No user home directory specified");
        account.home = *home;
        users[*name] = std::move(account);
    }
}

const user_account& server_settings::find_account(const std::string& name) const {
    const auto found = users.find(name);
    if (found == users.end()) throw std::runtime_error("No such user");
    return found->second;
}

bool server_settings::password_required(const std::string& name) const {
    const auto found = users.find(name);
    return found == users.end() || !found->second.password.empty();
}

bool server_settings::check_password(const std::string& name, const std::string& password) const {
    const auto found = users.find(name);
    return found != users.end() && found->second.password == password;
}

bool server_settings::can_write(const std::string& name) const { return find_account(name).can_write; }

std::string server_settings::home_directory(const std::string& name) const { return find_account(name).home; }

std::vector<std::uint32_t> parse_proxy_from(const std::string& value) {
    std::vector<std::uint32_t> addresses;
    const auto trimmed = [](std::string_view text) {
        const std::size_t first = text.find_first_not_of(" \t");
        if (first == std::string_view::npos) return std::string_view{};
        return text.substr(first, text.find_last_not_of(" \t") - first + 1);
    };
    if (trimmed(value).empty()) return addresses;
    for (std::string_view rest = value;;) {
        const std::size_t comma = rest.find(',');
        const std::optional<std::uint32_t> address = parse_ipv4_host(trimmed(rest.substr(0, comma)));
        if (!address) throw std::runtime_error("Could not parse proxy-from list");
        addresses.push_back(*address);
        if (comma == std::string_view::npos) return addresses;
        rest.remove_prefix(comma + 1);
    }
}

}  // namespace ZT
