// The control connection's line reader and reply writer. The line reader takes
// bytes from the stream's read-ahead, never past the line feed of the line it
// returns, so that the next line (or anything a client sends after it) stays
// for the next read.
//
// Ownership and threads: run_session makes one on the worker thread that serves
// the connection and uses it from that thread alone; it borrows the connection
// (or the two streams), which outlive it. The addresses are asked of the system
// once and kept.
#pragma once

#include "lib/stream.h"
#include "lib/tcp_socket.h"

#include <string>
#include <string_view>

namespace ZT {

constexpr std::size_t max_command_line = 1024;

struct command_line {
    std::string verb;      // upper-cased (ASCII letters only)
    std::string argument;  // every byte after the first space, unchanged
};

// Splits a line at its first space. The verb is upper-cased and ends at its first
// zero byte; the argument keeps its case and every byte.
command_line split_command(const std::string& line);

class control_channel {
public:
    control_channel(readable_stream& input, writable_stream& output) : input_(&input), output_(&output) {}
    // Over an accepted connection, whose addresses the data connections need.
    explicit control_channel(tcp_socket& connection)
        : input_(&connection), output_(&connection), socket_(&connection) {}

    // Reads and writes through these streams from now on (an encrypted stream
    // over the same connection, which must outlive the channel); the addresses
    // stay those of the connection.
    void use_streams(readable_stream& input, writable_stream& output) {
        input_ = &input;
        output_ = &output;
    }

    // The address that the client reached, and the client's own address, asked
    // of the system once. Only a channel over a connection has them (bug_check
    // otherwise).
    network_address local_address();
    network_address peer_address();
    // The client's address from now on, for a connection that a balancer made
    // on the client's behalf.
    void set_peer_address(const network_address& address) { peer_address_ = address; }

    // One line without its line end; carriage returns are dropped wherever they
    // stand. invalid_input for a line over 1024 bytes or a connection that ends
    // before the line feed.
    std::string read_line();
    command_line read_command() { return split_command(read_line()); }

    // Sends the text up to its first zero byte, then CR LF, in one write. Every
    // CR and LF inside the text goes out as "%0D" and "%0A", so a reply is always
    // exactly one line, whatever path or argument it repeats.
    void send_reply(std::string_view text);

private:
    readable_stream* input_;
    writable_stream* output_;
    tcp_socket* socket_ = nullptr;
    network_address local_address_;
    network_address peer_address_;
};

}  // namespace ZT
