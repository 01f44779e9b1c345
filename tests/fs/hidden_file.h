// Makes a file that the platform counts as hidden, for listing tests.
#pragma once

#include <filesystem>
#include <string>

namespace ZT::test {

// Creates a small hidden file in `folder` and returns its name: a name that
// starts with "." on POSIX, a file with the hidden attribute on Windows.
std::string create_hidden_file(const std::filesystem::path& folder);

}  // namespace ZT::test
