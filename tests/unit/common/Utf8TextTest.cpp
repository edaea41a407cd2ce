#include "common/Utf8Text.hpp"

#include <gtest/gtest.h>

namespace vesperon {
namespace {

TEST(Utf8TextTest, TrimWhiteSpaceRemovesOnlyOuterWhiteSpace) {
    EXPECT_EQ(trimWhiteSpace(" \t\u00a0make \u3000 test\u2028\u0085\n"), "make \u3000 test");
    EXPECT_EQ(trimWhiteSpace("\u2003\u202f\u205f\u1680"), "");
    EXPECT_EQ(trimWhiteSpace(""), "");
    // A zero-width space is a format character, not white space.
    EXPECT_EQ(trimWhiteSpace("\u200bx\u200b"), "\u200bx\u200b");
    EXPECT_EQ(trimWhiteSpace(" \xC0\xAF "), std::nullopt);
}

} // namespace
} // namespace vesperon
