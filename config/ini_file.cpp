#include "config/ini_file.h"

#include "fs/native_file.h"
#include "lib/errors.h"
#include "lib/text.h"

namespace ZT {

namespace {

// Space and every control byte; bytes of 128 and above are never blank.
bool is_blank(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    return text;
}

}  // namespace

std::optional<std::string> ini_section::find(const std::string& key) const {
    const auto found = values_.find(key);
    if (found == values_.end()) return std::nullopt;
    return found->second;
}

const ini_section* ini_file::find_section(const std::string& name) const {
    const auto found = sections_.find(name);
    return found == sections_.end() ? nullptr : &found->second;
}

std::vector<const ini_section*> ini_file::sections_named(const std::string& name) const {
    std::vector<const ini_section*> result;
    const auto [first, last] = sections_.equal_range(name);
    for (auto it = first; it != last; ++it) result.push_back(&it->second);
    return result;
}

ini_section& ini_file::add_section(const std::string& name) {
    // A multimap inserts after every element with an equal key.
    return sections_.emplace(name, ini_section())->second;
}

ini_file parse(std::string_view text) {
    const std::string_view::size_type zero = text.find('\0');
    if (zero != std::string_view::npos) text = text.substr(0, zero);

    ini_file result;
    ini_section* current = nullptr;
    while (!text.empty()) {
        const std::string_view::size_type line_end = text.find('\n');
        std::string_view line = text.substr(0, line_end);
        text = line_end == std::string_view::npos ? std::string_view() : text.substr(line_end + 1);

        line = trim(line);
        if (line.empty()) continue;

        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            current = &result.add_section(std::string(line.substr(1, line.size() - 2)));
            continue;
        }

        if (current == nullptr) current = &result.add_section(std::string());
        const std::string_view::size_type equals = line.find('=');
        if (equals == std::string_view::npos) {
            current->set(std::string(line), std::string());
        } else {
            current->set(std::string(trim(line.substr(0, equals))), std::string(trim(line.substr(equals + 1))));
        }
    }
    return result;
}

std::string decode_ini_bytes(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) return std::string(bytes.substr(3));
    const bool little_endian = bytes.starts_with("\xFF\xFE");
    if (!little_endian && !bytes.starts_with("\xFE\xFF")) return std::string(bytes);
    bytes.remove_prefix(2);
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        const auto first = static_cast<unsigned char>(bytes[2 * i]);
        const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
        units[i] = static_cast<char16_t>(little_endian ? first | second << 8 : first << 8 | second);
    }
    return utf16_to_utf8(units);
}

ini_file load_ini_file(const std::string& path) {
    std::string buffer;
    {
        native_file file;
        file.open(path, file_mode::generic_read, file_mode::open_existing);
        const std::uint64_t size = file.size();
        if (size > max_ini_file_size) throw invalid_input();
        buffer.resize(static_cast<std::size_t>(size));
        if (size != 0 && file.read(buffer.data(), buffer.size()) < buffer.size()) throw invalid_input();
    }
    return parse(decode_ini_bytes(buffer));
}

std::uint32_t parse_uint32(std::string_view text) {
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') throw invalid_input();
        const std::uint64_t next = std::uint64_t{value} * 10 + static_cast<unsigned>(c - '0');
        if (next > 0xFFFFFFFFu) throw overflow();
        value = static_cast<std::uint32_t>(next);
    }
    return value;
}

bool parse_bool(std::string_view text, bool& target) {
    const std::string word = to_lower_ascii(text);
    if (word == "0" || word == "false" || word == "no") {
        target = false;
        return true;
    }
    if (word == "1" || word == "true" || word == "yes") {
        target = true;
        return true;
    }
    return false;
}

}  // namespace ZT
