#include "ftp/failure_replies.h"

#include "lib/errors.h"

#include <gtest/gtest.h>

#include <exception>
#include <stdexcept>
#include <string>

namespace ZT {
namespace {

// The exceptions a command's step may throw, in the columns of the table below.
struct raised {
    const char* name;
    void (*raise)();
};

const raised exceptions[] = {
    {"user_abort", [] { throw user_abort(); }},
    {"file_not_found", [] { throw file_not_found(); }},
    {"denied", [] { throw denied(); }},
    {"directory_not_empty", [] { throw directory_not_empty(); }},
    {"file_already_exists", [] { throw file_already_exists(); }},
    {"file_access_error", [] { throw file_access_error(); }},
    {"invalid_input", [] { throw invalid_input(); }},
    {"network_error_timeout", [] { throw network_error_timeout(); }},
    {"overflow", [] { throw overflow(); }},
    {"runtime_error", [] { throw std::runtime_error("Invalid UTF-8 encoding"); }},
    {"no std::exception", [] { throw 7; }},
};
constexpr std::size_t exception_count = std::size(exceptions);

const char* const passes = nullptr;  // not answered: the exception passes on
const char* const missing = "550 No such file or directory";
const char* const refused = "550 Access denied";
const char* const not_empty = "550 Directory not empty";
const char* const failed = "503 Internal error";

struct mapping_row {
    const char* name;
    const failure_mapping* mapping;
    const char* replies[exception_count];
};

const mapping_row mapping_table[] = {
    // user_abort, file_not_found, denied, directory_not_empty, file_already_exists, file_access_error,
    // invalid_input, network_error_timeout, overflow, runtime_error, no std::exception
    {"missing", &failures::missing,
     {passes, missing, passes, passes, passes, passes, passes, passes, passes, passes, passes}},
    {"missing_or_denied", &failures::missing_or_denied,
     {passes, missing, refused, passes, passes, passes, passes, passes, passes, passes, passes}},
    {"every_failure", &failures::every_failure,
     {passes, missing, refused, failed, failed, failed, failed, failed, failed, failed, passes}},
    {"every_failure_or_not_empty", &failures::every_failure_or_not_empty,
     {passes, missing, refused, not_empty, failed, failed, failed, failed, failed, failed, passes}},
    {"any_exception", &failures::any_exception,
     {failed, failed, failed, failed, failed, failed, failed, failed, failed, failed, passes}},
    {"transfer_file_errors", &failures::transfer_file_errors,
     {passes, missing, passes, refused, refused, refused, passes, passes, passes, passes, passes}},
};

TEST(failure_replies, each_mapping_answers_or_passes_on_each_exception) {
    for (const mapping_row& row : mapping_table) {
        for (std::size_t column = 0; column < exception_count; ++column) {
            SCOPED_TRACE(std::string(row.name) + " / " + exceptions[column].name);
            std::exception_ptr thrown;
            std::exception_ptr passed_on;
            std::string reply;
            try {
                exceptions[column].raise();
            } catch (...) {
                thrown = std::current_exception();
                try {
                    reply = failure_reply(*row.mapping);
                } catch (...) {
                    passed_on = std::current_exception();
                }
            }
            ASSERT_TRUE(thrown);
            if (const char* expected = row.replies[column]) {
                EXPECT_EQ(reply, expected);
                EXPECT_FALSE(passed_on);
            } else {
                // The very exception that was thrown leaves, not a copy or another one.
                EXPECT_EQ(passed_on, thrown);
                EXPECT_EQ(reply, "");
            }
        }
    }
}

}  // namespace
}  // namespace ZT
