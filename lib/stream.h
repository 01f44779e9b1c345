// Byte-stream interfaces shared by sockets and files, so that transfers copy
// between a file and a connection through the same two interfaces.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ZT {

class socket_handle;

class readable_stream {
public:
    virtual ~readable_stream() = default;

    // Reads until `count` bytes are in or the data ends; returns the total.
    virtual std::size_t read(void* buffer, std::size_t count) = 0;
    // As read, but fewer than `count` bytes throws invalid_input.
    virtual void read_exact(void* buffer, std::size_t count);
    // Reads and discards up to `count` bytes; returns how many were skipped.
    virtual std::uint64_t skip(std::uint64_t count);
    virtual void skip_exact(std::uint64_t count);
    // One read of what is available now; 0 means nothing yet or end of data.
    virtual std::size_t read_some(void* buffer, std::size_t count) { return read(buffer, count); }
    // Waits until data have arrived and reads what is there, up to `count`.
    // Unlike read_some, 0 means only that the data have ended: a wake-up that
    // finds nothing waits again.
    virtual std::size_t read_available(void* buffer, std::size_t count) { return read(buffer, count); }
    virtual void wait_readable() {}
    virtual bool poll_readable() { return true; }
    // The socket beneath this stream when bytes pass through it unchanged (a
    // plain TCP connection with nothing read ahead), so that the system may
    // move file data to or from it directly; nullptr for every other stream.
    virtual socket_handle* plain_socket() { return nullptr; }
};

class writable_stream {
public:
    virtual ~writable_stream() = default;

    // Writes all `count` bytes.
    virtual void write(const void* buffer, std::size_t count) = 0;
    // One write of what fits now; returns the bytes taken.
    virtual std::size_t write_some(const void* buffer, std::size_t count) {
        write(buffer, count);
        return count;
    }
    virtual void wait_writable() {}
    virtual bool poll_writable() { return true; }
    // As readable_stream::plain_socket.
    virtual socket_handle* plain_socket() { return nullptr; }
};

}  // namespace ZT
