#include "fs/native_file.h"

#include "fs/native_file_common.h"
#include "lib/errors.h"

namespace ZT {

namespace {

// Closes of a file that are made to fail on this thread (fail_file_closes_for_tests).
thread_local int failing_closes = 0;

}  // namespace

native_file::~native_file() {
    try {
        close();
    } catch (...) {
    }
}

void fail_file_closes_for_tests(int count) { failing_closes = count; }

bool close_made_to_fail() {
    if (failing_closes <= 0) return false;
    --failing_closes;
    return true;
}

bool is_file(const std::string& path) {
    try {
        return !get_file_info(path).is_directory;
    } catch (const file_not_found&) {
        return false;
    }
}

bool is_directory_path(const std::string& path) {
    try {
        return get_file_info(path).is_directory;
    } catch (const file_not_found&) {
        return false;
    }
}

}  // namespace ZT
