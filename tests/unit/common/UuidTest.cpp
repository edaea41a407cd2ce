#include "common/Uuid.hpp"

#include <set>

#include <gtest/gtest.h>

namespace vesperon {
namespace {

TEST(Uuid, FreshIdentifiersAreVersion4UpperCaseAndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const std::string text = newUuidText();
        ASSERT_EQ(text.size(), 36u);
        for (std::size_t k = 0; k < text.size(); ++k) {
            const char c = text[k];
            if (k == 8 || k == 13 || k == 18 || k == 23) {
                ASSERT_EQ(c, '-') << text;
            } else {
                ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << text;
            }
        }
        EXPECT_EQ(text[14], '4') << text;
        EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos) << text;
        EXPECT_TRUE(seen.insert(text).second) << "duplicate " << text;
    }
}

TEST(Uuid, ParsesEitherCaseAndPrintsUpperCase) {
    const auto lower = Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e");
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower->text(), "0F8FAD5B-D9CB-469F-A165-70867728950E");
    EXPECT_EQ(lower->version(), 4);
    EXPECT_EQ(lower->bytes()[0], 0x0F);
    EXPECT_EQ(lower->bytes()[15], 0x0E);
    const auto upper = Uuid::parse("0F8FAD5B-D9CB-469F-A165-70867728950E");
    ASSERT_TRUE(upper);
    EXPECT_EQ(*lower, *upper);
}

TEST(Uuid, RefusesAnythingButTheCanonicalForm) {
    for (const char* text :
         {"", "0F8FAD5B-D9CB-469F-A165-70867728950", // too short
          "0F8FAD5B-D9CB-469F-A165-70867728950E0",   // too long
          "0F8FAD5BD-9CB-469F-A165-70867728950E",    // dash misplaced
          "0F8FAD5B-D9CB-469F-A165-70867728950G",    // not hex
          "{F8FAD5B-D9CB-469F-A165-70867728950E}", " F8FAD5B-D9CB-469F-A165-70867728950E",
          "../../../etc/passwd-0000-0000-000000000", "0F8FAD5B-D9CB-469F-A165/70867728950E"}) {
        EXPECT_FALSE(Uuid::isValidText(text)) << text;
    }
}

} // namespace
} // namespace vesperon
