#include "common/UntrustedJson.hpp"

#include <random>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "common/JsonSyntax.hpp"

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
}

// The one-pass check accepts exactly what the full parser accepts: on hand-picked edge
// cases and on many random corruptions of them.
TEST(JsonSyntax, AcceptsExactlyWhatTheFullParserAccepts) {
    const std::vector<std::string> seeds = {
        R"({"a":[1,-2.5e+3,{"b":"x\"\u00e9\ud83d\ude00"}],"c":true,"d":null,"e":false})",
        "\xEF\xBB\xBF {\"k\" : [ ] , \"l\":{}}\r\n",
        "\"caf\xc3\xa9 \xf0\x9f\x98\x80\"",
        "[0, -0, 0.5, 1E5, 1e-400, 123456789012345678901234567890]",
        "1e400",
        "-1.7976931348623157e308",
        "[\"\\ud800\"]",
        "[\"\\udc00\"]",
        "[\"\\ud800\\u0041\"]",
        "\"\\u0000\"",
        "[1,]",
        "{\"a\" 1}",
        "{\"a\":1,}",
        "[\"\t\"]",
        "\"\xed\xa0\x80\"",
        "\"\xc0\xaf\"",
        "\"\xf4\x90\x80\x80\"",
        "[[[]]] ",
        "",
        std::string(400, '9') + ".5"};
    const auto agrees = [](std::string_view text) {
        const bool full = !nlohmann::json::parse(text, nullptr, false).is_discarded();
        return full == (checkJsonSyntax(text, 1000) != JsonShape::Invalid);
    };
    for (const std::string& seed : seeds) {
        EXPECT_TRUE(agrees(seed)) << seed;
    }
    // The full parser stops at a NUL byte; the check refuses one, so none is drawn.
    const std::string alphabet =
        "{}[]\",:\\/ u0123456789abcdefABCDEF-+.eEtrnl\x7f\x1f\xc3\xa9\xed\xf0";
    std::mt19937 random(17);
    for (int round = 0; round < 20000; ++round) {
        std::string text = seeds[random() % seeds.size()];
        for (int edits = 1 + static_cast<int>(random() % 3); edits > 0; --edits) {
            const std::size_t at = text.empty() ? 0 : random() % (text.size() + 1);
            const char c = alphabet[random() % alphabet.size()];
            switch (random() % 3) {
            case 0:
                text.insert(at, 1, c);
                break;
            case 1:
                if (at < text.size()) {
                    text.erase(at, 1);
                }
                break;
            default:
                if (at < text.size()) {
                    text[at] = c;
                }
                break;
            }
        }
        ASSERT_TRUE(agrees(text)) << text;
    }
    EXPECT_EQ(checkJsonSyntax("{}", 1), JsonShape::Object);
    EXPECT_EQ(checkJsonSyntax("[[1]]", 1), JsonShape::Invalid);
    EXPECT_EQ(checkJsonSyntax("[[1]]", 2), JsonShape::Other);
    EXPECT_EQ(checkJsonSyntax(std::string_view("{}\0", 3), 2), JsonShape::Invalid);
}

TEST(UntrustedJson, KeepsOnlyTheNamedMembersOfAnObject) {
    constexpr std::string_view keys[] = {"a", "b\"c", "d"};
    const auto kept = parseUntrustedJsonMembers(
        R"({"a":1,"x":{"y":[1,2]},"b\"c":[{"z":{}}],"\u0064":"first","d":"last"})", 8, keys);
    ASSERT_TRUE(kept);
    EXPECT_EQ(*kept, nlohmann::json::parse(R"({"a":1,"b\"c":[{"z":{}}],"d":"last"})"));
    bool unnamed = true;
    EXPECT_TRUE(parseUntrustedJsonMembers(R"({"a":"\u00e9","d":"x"})", 8, keys, &unnamed));
    EXPECT_FALSE(unnamed);
    EXPECT_EQ(parseUntrustedJsonMembers(R"({"a":"\u00e9","z":2})", 8, keys, &unnamed)->at("a"),
              "\xc3\xa9");
    EXPECT_TRUE(unnamed);
    EXPECT_FALSE(parseUntrustedJsonMembers(R"({"x":"\ud800"})", 8, keys)) << "a skipped member";
    EXPECT_FALSE(parseUntrustedJsonMembers(R"([{"a":1}])", 8, keys)) << "not an object";
    EXPECT_FALSE(parseUntrustedJsonMembers(R"({"x":[[[]]]})", 3, keys)) << "too deep";
    EXPECT_EQ(*parseUntrustedJsonMembers(R"({"x":[[]]})", 3, keys), nlohmann::json::object());
}

} // namespace
} // namespace vesperon
