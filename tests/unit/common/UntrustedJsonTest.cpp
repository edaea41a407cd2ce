#include "common/UntrustedJson.hpp"

#include <gtest/gtest.h>

namespace vesperon {
namespace {

TEST(UntrustedJson, ParsesOrdinaryDocuments) {
    const auto value = parseUntrustedJson(R"({"a":[1,2,{"b":"x/y"}],"c":1.5})");
    ASSERT_TRUE(value);
    EXPECT_EQ((*value)["a"][2]["b"], "x/y");
}

TEST(UntrustedJson, RefusesNestingBeyondTheLimitWithoutBuildingIt) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_FALSE(parseUntrustedJson(deep));
    const std::string limit = std::string(64, '[') + std::string(64, ']');
    EXPECT_TRUE(parseUntrustedJson(limit));
    EXPECT_FALSE(parseUntrustedJson("[" + limit + "]"));
}

TEST(UntrustedJson, BracketsInsideStringsDoNotCountAsNesting) {
    const std::string text = "[\"" + std::string(1000, '[') + "\\\"{\"]";
    EXPECT_EQ(jsonNestingDepth(text), 1u);
    EXPECT_TRUE(parseUntrustedJson(text));
}

TEST(UntrustedJson, RefusesSyntaxErrorsAndInvalidUtf8) {
    EXPECT_FALSE(parseUntrustedJson("{\"a\":"));
    EXPECT_FALSE(parseUntrustedJson(""));
    EXPECT_FALSE(parseUntrustedJson("\"\xff\xfe\""));
    EXPECT_FALSE(parseUntrustedJson("{} trailing"));
}

} // namespace
} // namespace vesperon
