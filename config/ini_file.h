// The configuration file's INI dialect: sections of key/value pairs, read whole
// (at most 16 MiB) and parsed byte by byte. The only character conversion is
// that of a file saved as UTF-16 by a Windows editor, which is read as UTF-8.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ZT {

// The largest configuration file that is read.
constexpr std::uint64_t max_ini_file_size = 0x1000000;

// One section: keys are unique, a later line with the same key wins.
class ini_section {
public:
    void set(const std::string& key, const std::string& value) { values_[key] = value; }
    std::optional<std::string> find(const std::string& key) const;

private:
    std::map<std::string, std::string> values_;
};

// Sections by name; several may share a name and then keep their file order.
class ini_file {
public:
    // The first section with exactly this name, or null.
    const ini_section* find_section(const std::string& name) const;
    // Every section with exactly this name, in file order.
    std::vector<const ini_section*> sections_named(const std::string& name) const;

    // Adds a new, empty section after all others of that name and returns it.
    // References to sections stay valid while the file lives.
    ini_section& add_section(const std::string& name);

private:
    std::multimap<std::string, ini_section> sections_;
};

// Parses text up to its first zero byte. Never fails.
ini_file parse(std::string_view text);

// The text of a configuration file's bytes, as Windows tools save it: after a
// UTF-8 byte-order mark (EF BB BF) the bytes that follow it; after a UTF-16 mark
// (FF FE little-endian, FE FF big-endian) the UTF-16 text that follows, as UTF-8
// up to its first zero character, a last odd byte left out; any other bytes as
// they are. Never fails.
std::string decode_ini_bytes(std::string_view bytes);

// Reads a file, decodes it (decode_ini_bytes) and parses it. File errors, and
// invalid_input for a file over 16 MiB or a short read.
ini_file load_ini_file(const std::string& path);

// Unsigned decimal: empty gives 0; invalid_input for a non-digit, overflow past
// 4294967295.
std::uint32_t parse_uint32(std::string_view text);

// "0"/"false"/"no" and "1"/"true"/"yes", any letter case. Stores the value and
// answers true when recognised; otherwise leaves `target` alone and answers false.
bool parse_bool(std::string_view text, bool& target);

}  // namespace ZT
