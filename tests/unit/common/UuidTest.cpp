#include "common/Uuid.hpp"

#include <regex>
#include <set>

#include <gtest/gtest.h>

namespace vesperon {
namespace {

TEST(Uuid, FreshIdentifiersAreVersion4UpperCaseAndDistinct) {
    const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const std::string text = newUuidText();
        ASSERT_TRUE(std::regex_match(text, form) && seen.insert(text).second) << text;
    }
}

TEST(Uuid, ParsesEitherCaseAndRefusesAnythingButTheCanonicalForm) {
    const auto lower = Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e");
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower->text(), "0F8FAD5B-D9CB-469F-A165-70867728950E");
    EXPECT_EQ(lower->bytes()[0], 0x0F);
    EXPECT_EQ(lower->bytes()[15], 0x0E);
    for (const char* text :
         {"", "0F8FAD5B-D9CB-469F-A165-70867728950", "0F8FAD5B-D9CB-469F-A165-70867728950E0",
          "0F8FAD5BD-9CB-469F-A165-70867728950E", "0F8FAD5B-D9CB-469F-A165-70867728950G",
          "{F8FAD5B-D9CB-469F-A165-70867728950E}", "0F8FAD5B-D9CB-469F-A165/70867728950E"}) {
        EXPECT_FALSE(Uuid::isValidText(text)) << text;
    }
}

} // namespace
} // namespace vesperon
