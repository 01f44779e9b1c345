// The PORT argument "h1,h2,h3,h4,p1,p2". Exactly six comma-separated pieces
// are needed (invalid_input otherwise). With p1 and p2 unsigned 32-bit decimals
// (empty reads as 0) the host is the first four pieces joined with "." exactly
// as typed and the port is p1 * 256 + p2 in decimal; a bad number fails with
// invalid_input or overflow, and nothing else is ever thrown.
#include "data/passive_mode.h"
#include "fuzz_support.h"
#include "lib/errors.h"

#include <exception>
#include <string>
#include <vector>

namespace {

// An unsigned 32-bit decimal, or false.
bool read_uint32(std::string_view text, std::uint64_t& value) {
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > 0xFFFFFFFFu) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ZT;
    const std::string_view text = fuzz::as_text(data, size);

    std::vector<std::string_view> pieces;
    for (std::size_t start = 0;;) {
        const std::size_t comma = text.find(',', start);
        pieces.push_back(text.substr(start, comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    const bool six = pieces.size() == 6;
    const bool numbers = six && read_uint32(pieces[4], high) && read_uint32(pieces[5], low);

    address_text parsed;
    try {
        parsed = parse_port_argument(text);
    } catch (const invalid_input&) {
        fuzz::check(!numbers, "six pieces with two valid numbers are accepted", text);
        return 0;
    } catch (const overflow&) {
        fuzz::check(six && !numbers, "only a number past 32 bits overflows", text);
        return 0;
    } catch (const std::exception& e) {
        fuzz::fail("a PORT argument fails only with invalid_input or overflow", e.what());
    }
    fuzz::check(numbers, "anything but six pieces with two valid numbers is refused", text);
    const std::string host = std::string(pieces[0]) + "." + std::string(pieces[1]) + "." + std::string(pieces[2]) +
                             "." + std::string(pieces[3]);
    fuzz::check(parsed.host == host, "the host is the first four pieces joined with dots", text);
    fuzz::check(parsed.port == std::to_string(high * 256 + low), "the port is p1 * 256 + p2 in decimal", text);
    return 0;
}
