#include "lib/errors.h"

namespace ZT {

void throw_file_error(std::uint32_t code) {
    switch (code) {
    case win_error::file_not_found:
    case win_error::path_not_found:
        throw file_not_found();
    case win_error::file_exists:
    case win_error::already_exists:
        throw file_already_exists();
    case win_error::dir_not_empty:
        throw directory_not_empty();
    default:
        throw file_access_error();
    }
}

void throw_last_file_error() { throw_file_error(last_file_error_code()); }

}  // namespace ZT
