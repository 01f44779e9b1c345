// The whole command dispatcher of a logged-in session, driven by command lines
// against a scratch home. The input is split at line feeds and each line is
// served as a command of a writable account; a line that ends the session
// (QUIT, REIN, an empty line, an over-long line, an exception that the command
// does not answer) starts a fresh session for the lines after it.
//
// The home lies in a scratch folder next to a canary file and two folders with
// a file each ("sibling", and "home2", whose name the home's is a prefix of).
// After every input none of those has changed and nothing new exists beside
// the home; and every file operation the server was asked for mapped to a
// native path under the home without "." or ".." components.
//
// Not exercised: PASV lines are dropped, because a passive listener would make
// the next transfer wait up to 30 seconds for a data connection. Without one,
// transfers answer "503 Internal Error"; after PORT they end the session before
// any connection is tried, since an in-memory control channel has no peer
// address. So no file is ever read or written through a data connection, and
// the login dialogue (with its 5-second pause after a wrong user name) is not
// part of this target.
#include "config/ini_file.h"
#include "config/server_settings.h"
#include "fs/virtual_path.h"
#include "ftp/configured_server.h"
#include "ftp/ftp_session.h"
#include "fuzz_support.h"
#include "lib/errors.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace ZT;
namespace fs = std::filesystem;

const std::string user_name = "fuzz";

// The configured server, with every file operation checked before it runs.
class guarded_server final : public configured_server {
public:
    guarded_server(const server_settings& settings, std::string home)
        : configured_server(settings), home_(std::move(home)) {}
    ~guarded_server() { stop_serving(); }

    void log_line(const std::string&) override {}

    bool is_directory(const std::string& user, const std::string& path) override {
        guard(user, path);
        return configured_server::is_directory(user, path);
    }
    std::vector<directory_entry> list_directory(const std::string& user, const std::string& path) override {
        guard(user, path);
        return configured_server::list_directory(user, path);
    }
    void visit_directory(const std::string& user, const std::string& path, const directory_visitor& visit) override {
        guard(user, path);
        configured_server::visit_directory(user, path, visit);
    }
    file_info stat_path(const std::string& user, const std::string& path) override {
        guard(user, path);
        return configured_server::stat_path(user, path);
    }
    void rename_path(const std::string& user, const std::string& from, const std::string& to) override {
        guard(user, from);
        guard(user, to);
        changed = true;
        configured_server::rename_path(user, from, to);
    }
    void delete_file(const std::string& user, const std::string& path) override {
        guard(user, path);
        changed = true;
        configured_server::delete_file(user, path);
    }
    void remove_directory(const std::string& user, const std::string& path) override {
        guard(user, path);
        changed = true;
        configured_server::remove_directory(user, path);
    }
    void create_directory(const std::string& user, const std::string& path) override {
        guard(user, path);
        changed = true;
        configured_server::create_directory(user, path);
    }

    // Set when an operation that may change the tree was asked for.
    bool changed = false;

private:
    // A path that maps at all maps under the home, with no dot component.
    void guard(const std::string& user, const std::string& path) {
        std::string native;
        try {
            native = to_native_path(user, path);
        } catch (const invalid_input&) {
            return;  // the operation itself fails the same way
        }
        fuzz::check(native.compare(0, home_.size() + 1, home_ + "/") == 0, "a file operation stays under the home",
                    native);
        for (const fs::path& part : fs::path(native.substr(home_.size() + 1)))
            fuzz::check(part != "." && part != "..", "a file operation names no dot component", native);
    }

    const std::string home_;
};

// What must not change outside the home: the names in the scratch folder and
// its two other folders, and the type, size and time of the files beside the home.
std::string outside_state(const fs::path& parent) {
    std::string state;
    for (const fs::path& folder : {parent, parent / "sibling", parent / "home2"}) {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) state += name + "\n";
        state += "--\n";
    }
    for (const fs::path& file :
         {parent / "canary.txt", parent / "sibling" / "inner.txt", parent / "home2" / "inner.txt"}) {
        std::error_code error;
        state += file.string() + " " + std::to_string(fs::is_regular_file(file, error)) + " " +
                 std::to_string(fs::file_size(file, error)) + " " +
                 std::to_string(fs::last_write_time(file, error).time_since_epoch().count()) + "\n";
    }
    return state;
}

void put_file(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

struct harness {
    fs::path parent;
    std::string home;
    std::string outside;
    std::unique_ptr<server_settings> settings;
    std::unique_ptr<guarded_server> server;

    harness() {
        std::string pattern = (fs::temp_directory_path() / "tarvex-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data())) fuzz::fail("the scratch folder can be made", pattern);
        parent = pattern;
        home = (parent / "home").string();
        fs::create_directories(parent / "sibling");
        fs::create_directories(parent / "home2");
        put_file(parent / "canary.txt", "canary\n");
        put_file(parent / "sibling" / "inner.txt", "sibling\n");
        put_file(parent / "home2" / "inner.txt", "home2\n");
        reset_home();
        outside = outside_state(parent);

        settings = std::make_unique<server_settings>(parse("[config]\nlisten-address=127.0.0.1\nlisten-port=0\n"
                                                           "concurrency=1\n[user]\nname=" + user_name +
                                                           "\npassword=\nhome=" + home + "\ncan-write=1\n"));
        server = std::make_unique<guarded_server>(*settings, home);
    }

    ~harness() {
        server.reset();
        std::error_code error;
        fs::remove_all(parent, error);
    }

    // A small fixed tree: a file, a folder with a file, an empty folder.
    void reset_home() {
        fs::remove_all(home);
        fs::create_directories(fs::path(home) / "dir");
        fs::create_directories(fs::path(home) / "empty");
        put_file(fs::path(home) / "a.txt", "hello\n");
        put_file(fs::path(home) / "dir" / "b.txt", "world\n");
    }
};

harness* the_harness = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static harness instance;
    the_harness = &instance;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    harness& h = *the_harness;
    const std::string_view input = fuzz::as_text(data, size);

    fuzz::memory_input connection_input;
    fuzz::memory_output connection_output;
    control_channel channel(connection_input, connection_output);
    connection_security security;
    std::unique_ptr<ftp_session> session;

    for (std::size_t start = 0; start < input.size();) {
        std::size_t end = input.find('\n', start);
        end = end == std::string_view::npos ? input.size() : end + 1;
        const std::string_view line = input.substr(start, end - start);
        start = end;
        // The verb as the session will read it: carriage returns go wherever they stand.
        std::string text;
        for (const char c : line.substr(0, line.find('\n')))
            if (c != '\r') text += c;
        if (split_command(text).verb == "PASV") continue;

        if (!session) session = std::make_unique<ftp_session>(*h.server, channel, security, user_name);
        connection_input.reset(line);
        connection_output.bytes.clear();
        try {
            if (!session->serve_command()) session.reset();
        } catch (const std::exception&) {
            session.reset();  // the session ends, as the server ends it
        }
    }

    fuzz::check(outside_state(h.parent) == h.outside, "nothing outside the home changes", input);
    // Only the operations above change files (no transfer ever opens a data
    // connection here), so an input that asked for none left the home as it was.
    if (h.server->changed) {
        h.reset_home();
        h.server->changed = false;
    }
    return 0;
}
