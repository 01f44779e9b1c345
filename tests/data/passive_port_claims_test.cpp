#include "data/passive_port_claims.h"

#include <gtest/gtest.h>

#include <optional>

namespace ZT {
namespace {

// A port is held by one claim at a time and comes free however the claim ends:
// released, replaced by a claim on another port, or destroyed with its session.
TEST(passive_port_claims, a_port_has_one_holder_until_its_claim_ends) {
    passive_port_claims claims;
    passive_port_claim first;
    passive_port_claim second;

    EXPECT_TRUE(first.claim(claims, 20000));
    EXPECT_FALSE(second.claim(claims, 20000));
    EXPECT_TRUE(second.claim(claims, 20001));
    EXPECT_FALSE(first.claim(claims, 20001));  // a failed claim leaves nothing held
    EXPECT_TRUE(second.claim(claims, 20000));  // so 20000 came free

    EXPECT_TRUE(first.claim(claims, 65535));
    EXPECT_TRUE(first.claim(claims, 1));  // replacing frees 65535
    EXPECT_TRUE(claims.try_claim(65535));
    claims.release(65535);

    second.release();
    second.release();  // releasing twice frees nothing of anyone else
    EXPECT_FALSE(second.claim(claims, 1));
    EXPECT_TRUE(second.claim(claims, 20000));

    {
        std::optional<passive_port_claim> session(std::in_place);
        EXPECT_TRUE(session->claim(claims, 30000));
        EXPECT_FALSE(first.claim(claims, 30000));
    }
    EXPECT_TRUE(first.claim(claims, 30000));
}

}  // namespace
}  // namespace ZT
