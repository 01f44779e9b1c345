// The control connection's line reader over a byte stream of any content. Each
// read takes the bytes up to and including the next line feed and nothing
// after it; the line is those bytes without any carriage return, at most 1024
// of them; a longer line, or data that end before a line feed, fail with
// invalid_input without reading past the line. The command is the line split at
// its first space, the verb upper-cased and cut at a zero byte. A reply goes out
// as its text up to a zero byte, then CR LF.
#include "ftp/control_channel.h"
#include "fuzz_support.h"
#include "lib/errors.h"
#include "lib/text.h"

#include <exception>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ZT;
    const std::string_view bytes = fuzz::as_text(data, size);
    fuzz::memory_input input;
    fuzz::memory_output output;
    input.reset(bytes);
    control_channel channel(input, output);

    for (;;) {
        const std::size_t start = input.position;
        const std::size_t line_feed = bytes.find('\n', start);
        const std::size_t line_end = line_feed == std::string_view::npos ? bytes.size() : line_feed;
        std::string expected;
        for (std::size_t i = start; i < line_end; ++i)
            if (bytes[i] != '\r') expected += bytes[i];
        const bool readable = line_feed != std::string_view::npos && expected.size() <= max_command_line;

        command_line command;
        try {
            command = channel.read_command();
        } catch (const invalid_input&) {
            fuzz::check(!readable, "a complete line of up to 1024 bytes is read", bytes.substr(start));
            fuzz::check(input.position <= line_end, "a refused line is not read past its end", bytes.substr(start));
            return 0;
        } catch (const std::exception& e) {
            fuzz::fail("reading a command fails only with invalid_input", e.what());
        }
        fuzz::check(readable, "an over-long or unfinished line is refused", bytes.substr(start));
        fuzz::check(input.position == line_feed + 1, "a line is read up to its line feed and no further",
                    bytes.substr(start));

        const std::size_t space = expected.find(' ');
        std::string verb = expected.substr(0, space);
        verb = to_upper_ascii(verb.substr(0, verb.find('\0')));
        const std::string argument = space == std::string::npos ? std::string() : expected.substr(space + 1);
        fuzz::check(command.verb == verb, "the verb is the line's first word, upper-cased, up to a zero byte",
                    expected);
        fuzz::check(command.argument == argument, "the argument is every byte after the first space", expected);
        fuzz::check(command.verb.size() + command.argument.size() <= max_command_line &&
                        command.argument.find('\r') == std::string::npos,
                    "a command holds at most 1024 bytes and no carriage return", expected);

        output.bytes.clear();
        channel.send_reply(command.argument);
        fuzz::check(output.bytes == command.argument.substr(0, command.argument.find('\0')) + "\r\n",
                    "a reply is its text up to a zero byte, then CR LF", command.argument);
    }
}
