#include "fs/direct_transfer.h"

#include "fs/file_operations.h"
#include "lib/abort.h"
#include "lib/errors.h"
#include "lib/tcp_socket.h"

#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <sys/sendfile.h>
#include <unistd.h>

namespace ZT {

namespace {

// Errors that say the system cannot move data between these two descriptors
// this way at all, rather than that one of them failed.
bool is_unsupported(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

// The pipe an upload passes through, closed with it.
struct pipe_pair {
    int read_end = -1;
    int write_end = -1;
    ~pipe_pair() {
        if (read_end >= 0) ::close(read_end);
        if (write_end >= 0) ::close(write_end);
    }
};

// Empties the pipe into the file through a buffer, for a file system that
// takes nothing by splice.
void copy_pipe_to_file(int pipe, std::size_t count, native_file& file) {
    const auto buffer = std::make_unique_for_overwrite<char[]>(transfer_piece);
    while (count > 0) {
        const ssize_t got = ::read(pipe, buffer.get(), std::min(count, transfer_piece));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) throw network_error();  // the bytes were taken from the connection and are lost
        file.write(buffer.get(), static_cast<std::size_t>(got));
        count -= static_cast<std::size_t>(got);
    }
}

}  // namespace

bool send_file_directly(native_file& file, std::uint64_t& offset, socket_handle& socket) {
    const int fd = static_cast<int>(file.native_handle());
    bool waited = false;
    for (;;) {
        check_abort();
        auto at = static_cast<off_t>(offset);
        const ssize_t sent = ::sendfile(socket.native(), fd, &at, max_send_piece);
        if (sent > 0) {
            offset += static_cast<std::uint64_t>(sent);
            waited = false;
            continue;
        }
        if (sent == 0) return true;  // the end of the file
        const int error = errno;
        if (error == EINTR) continue;
        if (error == EAGAIN) {
            // Full: wait until it takes more. Nothing taken after that is an
            // error, as for any other send.
            if (waited) throw network_error();
            socket.wait(false, true);
            waited = true;
            continue;
        }
        if (is_unsupported(error)) return false;
        // sendfile does not say which side failed: the file's when it cannot
        // be read there either, the connection's otherwise.
        char probe;
        clear_last_file_error();
        if (::pread(fd, &probe, 1, static_cast<off_t>(offset)) < 0) throw_last_file_error();
        throw network_error();
    }
}

bool receive_file_directly(socket_handle& socket, native_file& file) {
    const int fd = static_cast<int>(file.native_handle());
    // Appends keep the copy, whose every write the system puts at the end.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_APPEND) != 0) return false;
    pipe_pair pipe;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;  // no descriptors left: copy
    pipe.read_end = ends[0];
    pipe.write_end = ends[1];
    // One piece is what the pipe holds: 128 KiB where it may grow to that.
    ::fcntl(pipe.write_end, F_SETPIPE_SZ, static_cast<int>(transfer_piece));
    const int capacity = ::fcntl(pipe.write_end, F_GETPIPE_SZ);
    const std::size_t piece = capacity > 0 ? std::min(static_cast<std::size_t>(capacity), transfer_piece) : 4096;

    bool received_any = false;
    for (;;) {
        const ssize_t got =
            ::splice(socket.native(), nullptr, pipe.write_end, nullptr, piece, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (got == 0) return true;  // the peer ended the data
        if (got < 0) {
            const int error = errno;
            if (error == EINTR) continue;
            if (error == EAGAIN) {
                socket.wait(true, false);
                continue;
            }
            if (!received_any && is_unsupported(error)) return false;
            throw network_error();
        }
        received_any = true;
        auto left = static_cast<std::size_t>(got);
        while (left > 0) {
            check_abort();
            clear_last_file_error();
            const ssize_t put = ::splice(pipe.read_end, nullptr, fd, nullptr, left, SPLICE_F_MOVE);
            if (put > 0) {
                left -= static_cast<std::size_t>(put);
                continue;
            }
            if (put < 0 && errno == EINTR) continue;
            if (put < 0 && is_unsupported(errno)) {
                copy_pipe_to_file(pipe.read_end, left, file);
                return false;
            }
            if (put == 0) throw file_access_error();  // a write that took nothing would never end
            throw_last_file_error();
        }
    }
}

}  // namespace ZT
