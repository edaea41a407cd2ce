#include "common/Uuid.hpp"

#include <gtest/gtest.h>

namespace vesperon {
namespace {

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
