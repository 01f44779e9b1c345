// The unsigned decimal parsers of the configuration (parse_uint32) and of the
// protocol (parse_uint64), judged against the text itself: digits only give
// their value, or overflow exactly when the value is past the type's largest;
// any other byte gives invalid_input (or overflow when the digits before it are
// already too many); nothing else is ever thrown.
#include "config/ini_file.h"
#include "fuzz_support.h"
#include "lib/errors.h"
#include "lib/text.h"

#include <exception>
#include <string>

namespace {

using namespace ZT;

enum class outcome { value, invalid, too_large };

// Compares decimal texts without leading zeros by length, then digit by digit.
bool exceeds(std::string_view digits, std::string_view largest) {
    while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
    return digits.size() > largest.size() || (digits.size() == largest.size() && digits > largest);
}

template <typename Parse>
void check_parser(std::string_view text, std::string_view largest, Parse parse) {
    const std::size_t first_other = text.find_first_not_of("0123456789");
    const bool digits_only = first_other == std::string_view::npos;
    const bool prefix_too_large = exceeds(text.substr(0, first_other), largest);

    outcome got = outcome::value;
    std::uint64_t value = 0;
    try {
        value = parse(text);
    } catch (const invalid_input&) {
        got = outcome::invalid;
    } catch (const overflow&) {
        got = outcome::too_large;
    } catch (const std::exception& e) {
        fuzz::fail("a number parser throws only invalid_input or overflow", e.what());
    }

    if (digits_only) {
        fuzz::check(got == (prefix_too_large ? outcome::too_large : outcome::value),
                    "digits give their value, or overflow past the largest", text);
        if (got != outcome::value) return;
        std::string_view plain = text;
        while (plain.size() > 1 && plain.front() == '0') plain.remove_prefix(1);
        fuzz::check(format_uint(value) == (plain.empty() ? "0" : plain), "the value is the digits' value", text);
        return;
    }
    fuzz::check(got == outcome::invalid || (got == outcome::too_large && prefix_too_large),
                "a byte that is not a digit gives invalid_input", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::as_text(data, size);
    check_parser(text, "4294967295", [](std::string_view t) -> std::uint64_t { return parse_uint32(t); });
    check_parser(text, "18446744073709551615", [](std::string_view t) { return parse_uint64(t); });
    return 0;
}
