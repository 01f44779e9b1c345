#include "lib/errors.h"

#include <gtest/gtest.h>

namespace ZT {
namespace {

TEST(errors, base_classes_catch_their_families) {
    EXPECT_THROW(throw network_error_connect(), network_error);
    EXPECT_THROW(throw network_error_timeout(), network_error);
    EXPECT_THROW(throw file_not_found(), file_access_error);
    EXPECT_THROW(throw directory_not_empty(), file_access_error);
    EXPECT_THROW(throw file_already_exists(), file_access_error);
    EXPECT_THROW(throw overflow(), std::overflow_error);
    EXPECT_THROW(throw overflow(), std::runtime_error);
    // An aborted wait is never mistaken for a network failure.
    try {
        throw user_abort();
    } catch (const network_error&) {
        FAIL() << "user_abort caught as network_error";
    } catch (const user_abort& e) {
        EXPECT_STREQ(e.what(), "user abort");
    }
}

TEST(errors, default_messages) {
    EXPECT_STREQ(bug_check().what(), "bug check");
    EXPECT_STREQ(denied().what(), "denied");
    EXPECT_STREQ(overflow().what(), "overflow");
    EXPECT_STREQ(invalid_input().what(), "invalid input");
    EXPECT_STREQ(network_error().what(), "network error");
    EXPECT_STREQ(network_error_connect().what(), "could not connect");
    EXPECT_STREQ(network_error_timeout().what(), "network timeout");
    EXPECT_STREQ(file_access_error().what(), "file access error");
    EXPECT_STREQ(file_not_found().what(), "file not found");
    EXPECT_STREQ(directory_not_empty().what(), "directory not empty");
    EXPECT_STREQ(file_already_exists().what(), "file already exists");
}

TEST(errors, file_error_codes_map_to_classes) {
    EXPECT_THROW(throw_file_error(2), file_not_found);
    EXPECT_THROW(throw_file_error(3), file_not_found);
    EXPECT_THROW(throw_file_error(80), file_already_exists);
    EXPECT_THROW(throw_file_error(183), file_already_exists);
    EXPECT_THROW(throw_file_error(145), directory_not_empty);
    for (std::uint32_t code : {5u, 32u, 112u, 123u, 0u}) {
        try {
            throw_file_error(code);
        } catch (const file_access_error& e) {
            EXPECT_EQ(typeid(e), typeid(file_access_error)) << code;
            EXPECT_STREQ(e.what(), "file access error");
        }
    }
}

}  // namespace
}  // namespace ZT
