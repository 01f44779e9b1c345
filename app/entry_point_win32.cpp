// The Windows entry point. The narrow arguments of main come through the ANSI
// code page, which loses every letter that the code page lacks ("-config
// C:\Users\Zoë\..." on a Greek or Japanese system, a Greek folder on a Western
// one). wmain gets them as UTF-16, split from the command line by the C runtime
// under the same rules as the narrow ones, and they are converted to UTF-8 here.
#include "app/entry_point.h"
#include "lib/text.h"

#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    // Both vectors live until the program returns, as the settings need.
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i)
        arguments.push_back(ZT::utf16_to_utf8(reinterpret_cast<const char16_t*>(argv[i])));
    std::vector<char*> pointers;
    pointers.reserve(arguments.size() + 1);
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return ZT::tarvex_main(argc, pointers.data());
}
