// The configuration file as the server reads it: the INI parser and the
// settings record built from it. The parser never fails; building the settings
// either fails with one of its known messages or gives a record whose account
// queries agree with its accounts, whose passive list is in normal form, and
// which survives being written out as INI text and read back.
#include "config/ini_file.h"
#include "config/server_settings.h"
#include "fuzz_support.h"
#include "lib/errors.h"
#include "lib/text.h"

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

namespace {

using namespace ZT;

// The settings as INI text; reading it back must give the same record.
std::string to_ini_text(const server_settings& settings) {
    std::string text = "[config]\n";
    text += "concurrency=" + format_uint(settings.concurrency) + "\n";
    text += "listen-port=" + format_uint(settings.listen_port) + "\n";
    text += "listen-address=" + settings.listen_address + "\n";
    text += "pasv-address=" + settings.pasv_address + "\n";
    text += "pasv-ports=";
    for (const std::uint32_t port : settings.pasv_ports) text += format_uint(port) + ",";
    for (const auto& [first, last] : settings.pasv_port_ranges)
        text += format_uint(first) + "-" + format_uint(last) + ",";
    text += "\n";
    text += std::string("allow-local-codepage=") + (settings.allow_local_codepage ? "yes" : "no") + "\n";
    text += "tls-certificate=" + settings.tls_certificate + "\ntls-password=" + settings.tls_password + "\n";
    text += std::string("tls-required=") + (settings.tls_required ? "yes" : "no") + "\n";
    text += "proxy-from=";
    for (const std::uint32_t address : settings.proxy_from)
        text += format_uint(address >> 24) + "." + format_uint((address >> 16) & 255) + "." +
                format_uint((address >> 8) & 255) + "." + format_uint(address & 255) + ",";
    if (!settings.proxy_from.empty()) text.pop_back();
    text += "\n";
    for (const auto& [name, account] : settings.users) {
        text += "[user]\nname=" + name + "\npassword=" + account.password + "\nhome=" + account.home +
                "\ncan-write=" + (account.can_write ? "true" : "false") + "\n";
    }
    return text;
}

// Builds the settings; the failure message when that fails. Any exception that
// is not one of the documented failures breaks the property.
std::optional<server_settings> build(std::string_view text, std::string& failure) {
    try {
        return server_settings(parse(text));
    } catch (const std::runtime_error& e) {
        failure = e.what();
    } catch (const std::exception& e) {
        fuzz::fail("settings fail only with a runtime error", e.what());
    }
    static const std::string known[] = {"No user name specified", "No user home directory specified",
                                        "Could not parse PASV ports list", "Could not parse proxy-from list",
                                        invalid_input::default_message(),
                                        overflow::default_message()};
    for (const std::string& message : known)
        if (failure == message) return std::nullopt;
    fuzz::fail("settings fail with a known message", failure);
}

bool same_settings(const server_settings& a, const server_settings& b) {
    if (a.users.size() != b.users.size()) return false;
    for (auto i = a.users.begin(), j = b.users.begin(); i != a.users.end(); ++i, ++j) {
        if (i->first != j->first || i->second.password != j->second.password || i->second.home != j->second.home ||
            i->second.can_write != j->second.can_write)
            return false;
    }
    return a.concurrency == b.concurrency && a.listen_port == b.listen_port && a.listen_address == b.listen_address &&
           a.pasv_address == b.pasv_address && a.pasv_ports == b.pasv_ports &&
           a.pasv_port_ranges == b.pasv_port_ranges && a.allow_local_codepage == b.allow_local_codepage &&
           a.tls_certificate == b.tls_certificate && a.tls_password == b.tls_password &&
           a.tls_required == b.tls_required && a.proxy_from == b.proxy_from;
}

void check_accounts(const server_settings& settings) {
    std::string stranger = "?";
    for (const auto& [name, account] : settings.users) {
        fuzz::check(settings.check_password(name, account.password), "an account's own password is accepted", name);
        fuzz::check(settings.password_required(name) == !account.password.empty(),
                    "a password is required exactly when the account has one", name);
        fuzz::check(settings.home_directory(name) == account.home, "the home query gives the account's home", name);
        fuzz::check(settings.can_write(name) == account.can_write, "the write query gives the account's flag", name);
        stranger += name;
    }
    // Longer than every configured name, so it is nobody's.
    fuzz::check(settings.password_required(stranger), "an unknown name always needs a password");
    fuzz::check(!settings.check_password(stranger, ""), "an unknown name never logs in");
    try {
        settings.home_directory(stranger);
        fuzz::fail("an unknown name has no home");
    } catch (const std::runtime_error& e) {
        fuzz::check(std::string(e.what()) == "No such user", "an unknown name fails with \"No such user\"", e.what());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(fuzz::as_text(data, size));

    std::string failure;
    const std::optional<server_settings> settings = build(text, failure);

    // Windows line ends and anything after a zero byte change nothing.
    std::string crlf;
    for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::string other_failure;
    const std::optional<server_settings> from_crlf = build(crlf, other_failure);
    fuzz::check(settings.has_value() == from_crlf.has_value() && failure == other_failure,
                "CR LF line ends give the same outcome", text);
    if (settings) fuzz::check(same_settings(*settings, *from_crlf), "CR LF line ends give the same settings", text);

    const std::optional<server_settings> cut = build(text + std::string(1, '\0') + "[user]\nname=x", other_failure);
    fuzz::check(settings.has_value() == cut.has_value(), "text after a zero byte is ignored", text);
    if (settings) fuzz::check(same_settings(*settings, *cut), "text after a zero byte is ignored", text);
    if (!settings) return 0;

    fuzz::check_pasv_normal_form(settings->pasv_ports, settings->pasv_port_ranges);
    check_accounts(*settings);

    const std::string written = to_ini_text(*settings);
    const std::optional<server_settings> again = build(written, other_failure);
    fuzz::check(again.has_value(), "settings written as INI text load again", written);
    fuzz::check(same_settings(*settings, *again), "settings written as INI text read back unchanged", written);
    return 0;
}
