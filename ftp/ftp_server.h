// The FTP server base: turns each connection into an FTP session and declares
// everything a session needs to know about accounts, passive mode and files.
// The configured server supplies those from the settings and the file system.
#pragma once

#include "data/listing_format.h"
#include "data/passive_port_claims.h"
#include "fs/file_operations.h"
#include "fs/native_file.h"
#include "ftp/login_dialogues.h"
#include "ftp/login_failures.h"
#include "ftp/tcp_server.h"
#include "lib/tls_socket.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace ZT {

// Ownership and threads: one server object serves the whole process. The entry
// point (or a test) owns the most derived object; the accept thread and every
// worker thread use it until stop_serving has ended them all. Its settings
// (allow_local_codepage, and whatever a derived server reads) are fixed before
// listening starts and only read afterwards, so the virtual operations may run
// on any number of sessions at once without a lock; what changes while sessions
// run is synchronised where it lives: the session counter is atomic and the
// passive port claims have their own lock.
class ftp_server : public tcp_server {
public:
    // Whether sessions may use the local code page with clients that do not ask
    // for UTF-8.
    bool local_codepage_allowed() const { return allow_local_codepage; }
    // The passive ports that the sessions' listeners hold.
    passive_port_claims& passive_ports_in_use() { return passive_ports_in_use_; }

    // The number of the next logged-in session (the first one gets 1).
    std::uint32_t next_session_number() { return ++session_counter_; }

    // Failed logins by client address; they slow that address's next ones.
    login_failures& failed_logins() { return failed_logins_; }
    // The login dialogues that run now; a full pool ends one to make room.
    login_dialogues& running_logins() { return running_logins_; }

    // The credentials of encrypted connections; nullptr when none are offered.
    const tls_credentials* tls() const { return tls_; }
    // Whether logins and transfers must be encrypted.
    bool tls_required() const { return tls_required_; }
    // The balancers whose connections begin with a header naming the client.
    const std::vector<std::uint32_t>& balancers() const { return balancers_; }
    bool is_balancer(std::uint32_t address) const {
        return std::find(balancers_.begin(), balancers_.end(), address) != balancers_.end();
    }

    void run_session(tcp_socket& connection) override;
    // Ends a stalled login dialogue (login_dialogues::end_one) for a connection
    // that found every worker busy.
    bool make_room() override;

    // The operations a session calls, in the order of the server's table of
    // virtual operations. Every one takes the session's user name first; paths
    // are virtual paths from resolve_path.
    virtual void log_line(const std::string& text);
    virtual std::string greeting_text();
    // The passive port to try after `previous` (-1 before the first try): 0 lets
    // the system choose, -1 means no port is left.
    virtual int next_passive_port(int previous);
    // The IPv4 address announced by PASV; the any-address means "the address the
    // client reached".
    virtual network_address passive_address();
    virtual bool password_required(const std::string& user);
    virtual bool check_password(const std::string& user, const std::string& password);
    virtual bool is_directory(const std::string& user, const std::string& path);
    virtual bool can_write(const std::string& user, const std::string& path);
    // The directory's entries in the system's order, hidden entries left out.
    virtual std::vector<directory_entry> list_directory(const std::string& user, const std::string& path) = 0;
    // The entries of list_directory handed to `visit` one by one, in the same
    // order; the listing texts are built this way. The base calls list_directory;
    // a server that can enumerate without building the list overrides it (a
    // listing of many thousands of entries then costs no list), and a server
    // derived from that one which changes list_directory changes this too.
    virtual void visit_directory(const std::string& user, const std::string& path, const directory_visitor& visit);

    // The listing texts, each line ending in CR LF, in UTF-8. None of them reports
    // a file-system failure: a missing or unreadable directory gives what was
    // built so far, possibly nothing. Only user_abort passes through.
    virtual std::string format_mlsd_listing(const std::string& user, const std::string& path,
                                            const mlst_fact_set& facts);
    // The entries' LIST lines, then "." and, below the root, "..".
    virtual std::string format_list_listing(const std::string& user, const std::string& path);
    virtual std::string format_nlst_listing(const std::string& user, const std::string& path);
    // The one fact line of the path itself (named by the path), or empty text
    // when the path cannot be examined.
    virtual std::string format_mlst_entry(const std::string& user, const std::string& path,
                                          const mlst_fact_set& facts);

    virtual file_info stat_path(const std::string& user, const std::string& path) = 0;
    // False for file_not_found; every other failure of stat_path passes on.
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

    // Set once by a derived server's constructor, before it starts listening.
    bool allow_local_codepage = false;
    // Set with it: what tls() and tls_required() answer.
    const tls_credentials* tls_ = nullptr;
    bool tls_required_ = false;
    // Set with it: what balancers() answers.
    std::vector<std::uint32_t> balancers_;

private:
    passive_port_claims passive_ports_in_use_;
    std::atomic<std::uint32_t> session_counter_{0};
    login_failures failed_logins_;
    login_dialogues running_logins_;
};

}  // namespace ZT
