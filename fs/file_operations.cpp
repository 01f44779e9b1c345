#include "fs/file_operations.h"

#include "fs/direct_transfer.h"

#include <memory>

namespace ZT {

namespace {

void copy_to_file(readable_stream& source, native_file& file) {
    const auto buffer = std::make_unique_for_overwrite<char[]>(transfer_piece);  // no need to clear it
    for (;;) {
        // Only the end of the data ends the upload; a wake-up with nothing to
        // read waits again, so an upload never ends early.
        const std::size_t got = source.read_available(buffer.get(), transfer_piece);
        if (got == 0) break;
        file.write(buffer.get(), got);
    }
}

}  // namespace

void visit_native_directory(const std::string& path, const directory_visitor& visit) {
    directory_enumerator enumerator;
    for (bool more = enumerator.open(path); more; more = enumerator.next()) {
        const found_entry& found = enumerator.current();
        if (!found.info.is_hidden) visit(found);
    }
}

std::vector<directory_entry> list_native_directory(const std::string& path) {
    std::vector<directory_entry> entries;
    visit_native_directory(path, [&entries](const directory_entry& entry) { entries.push_back(entry); });
    return entries;
}

void read_native_file(const std::string& path, writable_stream& sink, std::uint64_t offset) {
    native_file file;
    file.open(path, file_mode::generic_read, file_mode::open_existing);
    if (offset != 0) file.seek(offset);
    // Straight from the system's cache to a plain connection where it can.
    if (socket_handle* socket = sink.plain_socket()) {
        if (send_file_directly(file, offset, *socket)) return;
        file.seek(offset);
    }
    const auto buffer = std::make_unique_for_overwrite<char[]>(transfer_piece);  // no need to clear it
    for (;;) {
        const std::size_t got = file.read(buffer.get(), transfer_piece);
        if (got == 0) break;
        sink.write(buffer.get(), got);
        if (got < transfer_piece) break;  // end of file
    }
}

void write_native_file(const std::string& path, readable_stream& source, std::uint64_t offset) {
    native_file file;
    if (offset == 0) {
        file.open(path, file_mode::generic_read_write, file_mode::create_always);
    } else if (offset == append_offset) {
        // The system puts each write at the end of the file as it is then, so
        // appends of other sessions to the same file are never overwritten.
        file.open(path, file_mode::append_data, file_mode::open_existing);
    } else {
        file.open(path, file_mode::generic_read_write, file_mode::open_existing);
        // Everything after the restart point goes before new data arrive.
        file.seek(offset);
        file.set_end_of_file(offset);
    }
    // Straight from a plain connection into the file where the system can;
    // through the buffer otherwise, or for what the system left.
    socket_handle* socket = source.plain_socket();
    if (!socket || !receive_file_directly(*socket, file)) copy_to_file(source, file);
    // The system may report a failed write only here (a full disk, a quota, a
    // network file system): that is the upload's failure, not its success.
    file.close();
}

}  // namespace ZT
