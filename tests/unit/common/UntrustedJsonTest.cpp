#include "common/UntrustedJson.hpp"

#include <gtest/gtest.h>

namespace vesperon {
namespace {

TEST(UntrustedJson, ParsesDocumentsWithinTheNestingLimit) {
    EXPECT_EQ(parseUntrustedJson(R"({"a":[1,2,{"b":"x/y"}],"c":1.5})").value()["a"][2]["b"], "x/y");
    const std::string limit = std::string(64, '[') + std::string(64, ']');
    EXPECT_TRUE(parseUntrustedJson(limit));
    EXPECT_FALSE(parseUntrustedJson("[" + limit + "]"));
    EXPECT_FALSE(parseUntrustedJson(std::string(100000, '[') + std::string(100000, ']')));
    // Brackets inside strings do not count.
    const std::string text = "[\"" + std::string(1000, '[') + "\\\"{\"]";
    EXPECT_EQ(jsonNestingDepth(text), 1u);
    EXPECT_TRUE(parseUntrustedJson(text));
    for (const char* bad : {"{\"a\":", "", "\"\xff\xfe\"", "{} trailing"}) {
        EXPECT_FALSE(parseUntrustedJson(bad)) << bad;
    }
}

} // namespace
} // namespace vesperon
