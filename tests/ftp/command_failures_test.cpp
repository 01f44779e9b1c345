// The commands' answers to refused checks and failed steps, driven through the
// dispatcher against a server whose answers each case scripts: which checks
// refuse, and what the resolution and the file operation throw. Each case
// gives the reply line, or that the session ends (the very exception thrown
// leaves the dispatcher, and nothing is sent).
#include "ftp/ftp_server.h"
#include "ftp/ftp_session.h"

#include "lib/errors.h"

#include <gtest/gtest.h>

#include <exception>
#include <stdexcept>
#include <string>

namespace ZT {
namespace {

enum class failure {
    none,
    user_abort,
    file_not_found,
    denied,
    directory_not_empty,
    file_already_exists,
    file_access_error,
    runtime_error,
};

void throw_failure(failure kind) {
    switch (kind) {
    case failure::none:
        return;
    case failure::user_abort:
        throw user_abort();
    case failure::file_not_found:
        throw file_not_found();
    case failure::denied:
        throw denied();
    case failure::directory_not_empty:
        throw directory_not_empty();
    case failure::file_already_exists:
        throw file_already_exists();
    case failure::file_access_error:
        throw file_access_error();
    case failure::runtime_error:
        throw std::runtime_error("Invalid UTF-8 encoding");
    }
}

// 5 March 2024, 07:08:09 UTC as a file time.
constexpr std::uint64_t dated = 133540960890000000ULL;

struct script {
    failure resolution = failure::none;  // thrown by resolve_path
    bool writable = true;                // can_write
    bool name_allowed = true;            // is_name_allowed
    failure operation = failure::none;   // thrown by the file operation (and is_directory)
    bool directory = false;              // what stat_path and is_directory find
    std::uint64_t write_time = dated;    // stat_path's last write time
};

// A server that answers as the script says. Only the failing call keeps its
// exception, so that a case can check that the same one left the command.
class scripted_server final : public ftp_server {
public:
    explicit scripted_server(const script& answers) : ftp_server(1), answers_(answers) {}
    ~scripted_server() { stop_serving(); }

    std::exception_ptr thrown;

    std::string resolve_path(const std::string& user, const std::string& current_directory,
                             const std::string& client_path) override {
        fail(answers_.resolution);
        return ftp_server::resolve_path(user, current_directory, client_path);
    }
    bool can_write(const std::string&, const std::string&) override { return answers_.writable; }
    bool is_name_allowed(const std::string&, const std::string&, bool) override { return answers_.name_allowed; }
    bool is_directory(const std::string&, const std::string&) override {
        fail(answers_.operation);
        return answers_.directory;
    }
    file_info stat_path(const std::string&, const std::string&) override {
        fail(answers_.operation);
        file_info info;
        info.is_directory = answers_.directory;
        info.size = answers_.directory ? 0 : 42;
        info.last_write_time = answers_.write_time;
        return info;
    }
    void delete_file(const std::string&, const std::string&) override { fail(answers_.operation); }
    void remove_directory(const std::string&, const std::string&) override { fail(answers_.operation); }
    void create_directory(const std::string&, const std::string&) override { fail(answers_.operation); }
    void rename_path(const std::string&, const std::string&, const std::string&) override {
        fail(answers_.operation);
    }
    std::vector<directory_entry> list_directory(const std::string&, const std::string&) override { return {}; }
    // No case prepares a data connection, so no transfer reaches these.
    void read_file(const std::string&, const std::string&, writable_stream&, std::uint64_t) override {
        throw bug_check();
    }
    void write_file(const std::string&, const std::string&, tcp_socket&, std::uint64_t) override {
        throw bug_check();
    }

private:
    void fail(failure kind) {
        try {
            throw_failure(kind);
        } catch (...) {
            thrown = std::current_exception();
            throw;
        }
    }

    const script answers_;
};

class no_input : public readable_stream {
public:
    std::size_t read(void*, std::size_t) override { return 0; }
};

class recorded_output : public writable_stream {
public:
    void write(const void* buffer, std::size_t count) override {
        bytes.append(static_cast<const char*>(buffer), count);
    }
    std::string bytes;
};

// One command of a logged-in session against a scripted server.
struct command_run {
    explicit command_run(const script& answers)
        : server(answers), channel(input, output), session(server, channel, security, "user") {}

    // Runs the command line; true when it returned, false when an exception
    // left it, which must then be the one the server threw.
    bool run(const std::string& line) {
        const command_line command = split_command(line);
        bool known = true;
        try {
            session.dispatch_command(command.verb, command.argument, known);
        } catch (...) {
            EXPECT_TRUE(server.thrown) << "an exception that the server did not throw";
            EXPECT_EQ(std::current_exception(), server.thrown);
            return false;
        }
        EXPECT_TRUE(known);
        return true;
    }

    scripted_server server;
    no_input input;
    recorded_output output;
    control_channel channel;
    connection_security security;
    ftp_session session;
};

const char* const ends = nullptr;  // the session ends without a reply

struct command_case {
    const char* line;
    script answers;
    const char* reply;  // without CR LF, or `ends`
    bool source_pending = false;  // an RNFR has named a source before
};

const command_case command_cases[] = {
    // DELE: an unguarded resolution; the write check; every failure but a stop answered.
    {"DELE a", {}, "250 Delete successful"},
    {"DELE a", {.operation = failure::file_not_found}, "550 No such file or directory"},
    {"DELE a", {.operation = failure::denied}, "550 Access denied"},
    {"DELE a", {.operation = failure::directory_not_empty}, "503 Internal error"},
    {"DELE a", {.operation = failure::file_already_exists}, "503 Internal error"},
    {"DELE a", {.operation = failure::file_access_error}, "503 Internal error"},
    {"DELE a", {.operation = failure::user_abort}, ends},
    {"DELE a", {.writable = false, .operation = failure::file_not_found}, "550 Access denied"},
    {"DELE a", {.resolution = failure::runtime_error, .writable = false}, ends},
    // RMD: as DELE, with a directory that is not empty answered as such.
    {"RMD a", {}, "250 Remove directory successful"},
    {"RMD a", {.operation = failure::directory_not_empty}, "550 Directory not empty"},
    {"RMD a", {.operation = failure::file_not_found}, "550 No such file or directory"},
    {"RMD a", {.operation = failure::denied}, "550 Access denied"},
    {"RMD a", {.operation = failure::file_already_exists}, "503 Internal error"},
    {"RMD a", {.operation = failure::user_abort}, ends},
    {"RMD a", {.writable = false}, "550 Access denied"},
    {"RMD a", {.resolution = failure::runtime_error, .writable = false}, ends},
    // MKD: a guarded resolution, then the write check, then the name rule.
    {"MKD a", {}, "257 \"/a\" created."},
    {"MKD a", {.operation = failure::file_already_exists}, "257 \"/a\" created."},
    {"MKD a", {.operation = failure::file_not_found}, "550 No such file or directory"},
    {"MKD a", {.operation = failure::denied}, "550 Access denied"},
    {"MKD a", {.operation = failure::directory_not_empty}, ends},
    {"MKD a", {.operation = failure::file_access_error}, ends},
    {"MKD a", {.operation = failure::user_abort}, ends},
    {"MKD a", {.resolution = failure::user_abort, .writable = false, .name_allowed = false}, "503 Internal error"},
    {"MKD a", {.writable = false, .name_allowed = false}, "550 Access denied"},
    {"MKD a", {.name_allowed = false}, "553 File name not allowed"},
    // RNFR: only a missing source is answered.
    {"RNFR a", {}, "350 File exists, ready for destination name"},
    {"RNFR a", {.directory = true}, "350 Directory exists, ready for destination name"},
    {"RNFR a", {.operation = failure::file_not_found}, "550 No such file or directory"},
    {"RNFR a", {.operation = failure::denied}, ends},
    {"RNFR a", {.operation = failure::file_access_error}, ends},
    {"RNFR a", {.operation = failure::user_abort}, ends},
    {"RNFR a", {.writable = false, .operation = failure::file_not_found}, "550 Access denied"},
    {"RNFR a", {.resolution = failure::runtime_error, .writable = false}, ends},
    // RNTO: the pending source first, then as MKD; a missing file or a refusal answered.
    {"RNTO b", {.resolution = failure::runtime_error, .writable = false}, "503 RNTO without RNFR"},
    {"RNTO b", {}, "250 Rename successful", true},
    {"RNTO b", {.resolution = failure::user_abort, .writable = false}, "503 Internal error", true},
    {"RNTO b", {.writable = false, .name_allowed = false}, "550 Access denied", true},
    {"RNTO b", {.name_allowed = false}, "553 File name not allowed", true},
    {"RNTO b", {.operation = failure::file_not_found}, "550 No such file or directory", true},
    {"RNTO b", {.operation = failure::denied}, "550 Access denied", true},
    {"RNTO b", {.operation = failure::file_access_error}, ends, true},
    {"RNTO b", {.operation = failure::user_abort}, ends, true},
    // SIZE: an unguarded resolution; every failure but a stop answered.
    {"SIZE a", {}, "213 42"},
    {"SIZE a", {.directory = true}, "550 Not a file"},
    {"SIZE a", {.operation = failure::file_not_found}, "550 No such file or directory"},
    {"SIZE a", {.operation = failure::denied}, "550 Access denied"},
    {"SIZE a", {.operation = failure::directory_not_empty}, "503 Internal error"},
    {"SIZE a", {.operation = failure::file_access_error}, "503 Internal error"},
    {"SIZE a", {.operation = failure::user_abort}, ends},
    {"SIZE a", {.resolution = failure::runtime_error}, ends},
    // MDTM: a missing file or a refusal answered.
    {"MDTM a", {}, "213 20240305070809"},
    {"MDTM a", {.write_time = 0}, "503 Internal error"},
    {"MDTM a", {.directory = true}, "550 Not a plain file"},
    {"MDTM a", {.operation = failure::file_not_found}, "550 No such file or directory"},
    {"MDTM a", {.operation = failure::denied}, "550 Access denied"},
    {"MDTM a", {.operation = failure::file_access_error}, ends},
    {"MDTM a", {.operation = failure::user_abort}, ends},
    {"MDTM a", {.resolution = failure::runtime_error}, ends},
    // RETR: as SIZE; without a data connection the transfer answers.
    {"RETR a", {}, "503 Internal Error"},
    {"RETR a", {.directory = true}, "550 Not a file"},
    {"RETR a", {.operation = failure::file_not_found}, "550 No such file or directory"},
    {"RETR a", {.operation = failure::denied}, "550 Access denied"},
    {"RETR a", {.operation = failure::file_access_error}, "503 Internal error"},
    {"RETR a", {.operation = failure::user_abort}, ends},
    {"RETR a", {.resolution = failure::runtime_error}, ends},
    // STOR, APPE, STOU: a guarded resolution, the write check, the name rule.
    {"STOR a", {}, "503 Internal Error"},
    {"STOR a", {.resolution = failure::user_abort, .writable = false}, "503 Internal error"},
    {"STOR a", {.writable = false, .name_allowed = false}, "550 Access denied"},
    {"STOR a", {.name_allowed = false}, "553 File name not allowed"},
    {"APPE a", {}, "503 Internal Error"},
    {"APPE a", {.resolution = failure::runtime_error, .writable = false}, "503 Internal error"},
    {"APPE a", {.writable = false, .name_allowed = false}, "550 Access denied"},
    {"APPE a", {.name_allowed = false}, "553 File name not allowed"},
    {"STOU", {}, "503 Internal Error"},
    {"STOU", {.resolution = failure::user_abort, .writable = false}, "503 Internal error"},
    {"STOU", {.writable = false, .name_allowed = false}, "550 Access denied"},
    {"STOU", {.name_allowed = false}, "553 File name not allowed"},
    // CWD and CDUP: a guarded resolution; a failing directory test ends the session.
    {"CWD a", {.directory = true}, "250 CWD command successful"},
    {"CWD a", {}, "550 No such directory"},
    {"CWD a", {.resolution = failure::user_abort}, "503 Internal error"},
    {"CWD a", {.operation = failure::file_access_error}, ends},
    {"CDUP", {.directory = true}, "250 CWD command successful"},
    {"CDUP", {.resolution = failure::runtime_error}, "503 Internal error"},
    // REST: the number's parse is guarded.
    {"REST 12", {}, "350 Restarting at 12. Send STOR or RETR to initiate transfer."},
    {"REST 1x", {}, "503 Internal error"},
    {"REST 123456789012345678901", {}, "503 Internal error"},
};

TEST(command_failures, each_command_answers_its_checks_and_failures) {
    for (const command_case& c : command_cases) {
        SCOPED_TRACE(std::string(c.line) + " (case " + std::to_string(&c - command_cases) + ")");
        command_run run(c.answers);
        if (c.source_pending) run.session.rnfr_source = {"/old", file_info()};
        const bool returned = run.run(c.line);
        if (c.reply == ends) {
            EXPECT_FALSE(returned);
            EXPECT_EQ(run.output.bytes, "");
        } else {
            EXPECT_TRUE(returned);
            EXPECT_EQ(run.output.bytes, std::string(c.reply) + "\r\n");
        }
    }
}

// Which commands take the restart offset, and when.
struct offset_case {
    const char* line;
    script answers;
    std::uint64_t offset_after;
};

const offset_case offset_cases[] = {
    // RETR takes it as soon as its path is resolved, whatever follows.
    {"RETR a", {}, 0},
    {"RETR a", {.operation = failure::file_not_found}, 0},
    // STOR takes it once its checks have passed.
    {"STOR a", {}, 0},
    {"STOR a", {.resolution = failure::runtime_error}, 7},
    {"STOR a", {.writable = false}, 7},
    {"STOR a", {.name_allowed = false}, 7},
    // APPE and STOU leave it for a later RETR or STOR.
    {"APPE a", {}, 7},
    {"STOU", {}, 7},
    // A REST that cannot be parsed leaves the earlier one.
    {"REST x", {}, 7},
};

TEST(command_failures, restart_offset_is_taken_only_by_retr_and_stor) {
    for (const offset_case& c : offset_cases) {
        SCOPED_TRACE(c.line);
        command_run run(c.answers);
        run.session.rest_offset = 7;
        EXPECT_TRUE(run.run(c.line));
        EXPECT_EQ(run.session.rest_offset, c.offset_after);
    }
}

// Until RNTO tries the rename, every refusal keeps the source pending; once it
// has tried, the source is gone whatever the rename did.
struct rename_case {
    script answers;
    bool still_pending;
};

const rename_case rename_cases[] = {
    {{.resolution = failure::runtime_error}, true},
    {{.writable = false}, true},
    {{.name_allowed = false}, true},
    {{}, false},
    {{.operation = failure::file_not_found}, false},
    {{.operation = failure::denied}, false},
};

TEST(command_failures, rename_source_stays_pending_until_the_rename_is_tried) {
    for (const rename_case& c : rename_cases) {
        SCOPED_TRACE("case " + std::to_string(&c - rename_cases));
        command_run run(c.answers);
        run.session.rnfr_source = {"/old", file_info()};
        EXPECT_TRUE(run.run("RNTO new"));
        EXPECT_EQ(run.session.rnfr_source.path, c.still_pending ? "/old" : "");
    }
}

// RNFR keeps an earlier source when it answers a failure, and replaces it when
// the new source exists.
TEST(command_failures, rnfr_replaces_the_source_only_when_it_finds_one) {
    const struct {
        script answers;
        const char* source_after;
        bool directory_after;
    } cases[] = {
        {{}, "/a", false},
        {{.directory = true}, "/a", true},
        {{.operation = failure::file_not_found}, "/old", false},
        {{.writable = false}, "/old", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source_after);
        command_run run(c.answers);
        run.session.rnfr_source = {"/old", file_info()};
        EXPECT_TRUE(run.run("RNFR a"));
        EXPECT_EQ(run.session.rnfr_source.path, c.source_after);
        EXPECT_EQ(run.session.rnfr_source.info.is_directory, c.directory_after);
    }
}

}  // namespace
}  // namespace ZT
