// A balancer's header before a connection's bytes. The parse never reads past
// the input; a complete header is at most as long as the input and reads the
// same from its own bytes alone; a text header is at most 107 bytes and ends
// with CR LF; an invalid start stays invalid whatever follows; and a reader
// that takes exactly the bytes asked for ends on the header's last byte.
#include "fuzz_support.h"
#include "lib/proxy_header.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ZT;
    const std::string_view text = fuzz::as_text(data, size);
    // A copy of exactly the input, so that a read past it is a fault the sanitizer sees.
    const std::string input(text);
    const proxy_header_result result = parse_proxy_header(input);

    switch (result.status) {
    case proxy_header_status::complete: {
        fuzz::check(result.bytes > 0 && result.bytes <= size, "a complete header lies within the input", text);
        const proxy_header_result alone = parse_proxy_header(input.substr(0, result.bytes));
        fuzz::check(alone.status == proxy_header_status::complete && alone.bytes == result.bytes &&
                        alone.client == result.client,
                    "a header reads the same without what follows it", text);
        if (input[0] == 'P') {
            fuzz::check(result.bytes <= max_text_proxy_header, "a text header is at most 107 bytes", text);
            fuzz::check(input.substr(result.bytes - 2, 2) == "\r\n", "a text header ends with CR LF", text);
        }
        break;
    }
    case proxy_header_status::incomplete:
        fuzz::check(result.bytes > 0, "an incomplete header asks for at least one byte", text);
        break;
    case proxy_header_status::invalid:
        fuzz::check(result.bytes == 0, "an invalid header has no length", text);
        fuzz::check(parse_proxy_header(input + "\r\n").status == proxy_header_status::invalid,
                    "an invalid start stays invalid", text);
        break;
    }

    // Reading the input as a connection would: exactly the bytes asked for.
    std::size_t taken = 0;
    for (;;) {
        const proxy_header_result step = parse_proxy_header(input.substr(0, taken));
        if (step.status != proxy_header_status::incomplete) {
            fuzz::check(step.status == result.status, "a stepwise read ends as the whole input reads", text);
            if (step.status == proxy_header_status::complete) {
                fuzz::check(step.bytes == taken, "a stepwise read ends on the header's last byte", text);
            }
            break;
        }
        if (taken + step.bytes > size) break;  // the input ends inside the header
        taken += step.bytes;
    }
    return 0;
}
