// The server's file operations over native paths: directory listing, reading a
// file into a stream and writing a stream into a file. The protocol layer maps
// virtual paths to native ones before calling these.
#pragma once

#include "fs/native_file.h"
#include "lib/stream.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace ZT {

// A listed entry: its UTF-8 name and what the enumerator found out about it.
using directory_entry = found_entry;

// Receives the entries of a directory one by one.
using directory_visitor = std::function<void(const directory_entry&)>;

// Offset value that makes write_file append at the end of the file.
constexpr std::uint64_t append_offset = std::numeric_limits<std::uint64_t>::max();

// Size of the one buffer that every transfer uses.
constexpr std::size_t transfer_piece = 128 * 1024;

// The directory's entries in the system's order, hidden entries left out.
// A missing directory throws file_not_found.
std::vector<directory_entry> list_native_directory(const std::string& path);
// The same entries, handed to `visit` as they are enumerated, without a list.
void visit_native_directory(const std::string& path, const directory_visitor& visit);

// Copies the file from `offset` to its end into `sink`.
void read_native_file(const std::string& path, writable_stream& sink, std::uint64_t offset);

// Fills the file from `source` until the source ends. Offset 0 creates or
// empties the file; append_offset appends; any other offset cuts the existing
// file there first (a missing file throws file_not_found).
void write_native_file(const std::string& path, readable_stream& source, std::uint64_t offset);

}  // namespace ZT
