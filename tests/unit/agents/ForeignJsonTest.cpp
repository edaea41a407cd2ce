#include "agents/ForeignJson.hpp"

#include <gtest/gtest.h>

namespace vesperon {
namespace {

std::string roundTrip(std::string_view text) {
    const auto value = parseForeignJson(text);
    EXPECT_TRUE(value) << text;
    return value ? printForeignJson(*value) : std::string();
}

TEST(ForeignJson, NumbersKeepTheTextTheyWereWrittenWith) {
    // What a double-based reader would round or reformat comes back unchanged.
    for (const char* number :
         {"123456789012345678901234567890", "-98765432109876543210987654321", "1.0", "1e300",
          "1E+300", "-0.0", "0.1000000000000000055511151231257827", "2.5e-308", "1e-400",
          "18446744073709551615", "-9223372036854775808", "0"}) {
        EXPECT_EQ(roundTrip(number), number);
        EXPECT_EQ(roundTrip(std::string("[") + number + "]"),
                  std::string("[\n  ") + number + "\n]");
    }
}

TEST(ForeignJson, StringsKeepEveryCharacterAndSlashesStayUnescaped) {
    EXPECT_EQ(roundTrip(R"("a/b\/c")"), R"("a/b/c")");
    // Escaped and literal non-ASCII text both come out as UTF-8.
    EXPECT_EQ(roundTrip(R"("\u00fc\ud83d\ude00 ü😀 \u2028")"), "\"ü😀 ü😀 \u2028\"");
    EXPECT_EQ(roundTrip(R"("q\" b\\ \b\f\n\r\t \u0001 \u0000 \u001f")"),
              R"("q\" b\\ \b\f\n\r\t \u0001 \u0000 \u001f")");
    const auto nul = parseForeignJson(R"("a\u0000b")");
    ASSERT_TRUE(nul);
    ASSERT_NE(nul->text(), nullptr);
    EXPECT_EQ(*nul->text(), std::string("a\0b", 3));
}

TEST(ForeignJson, PrettyPrintsWithSortedKeysAndTwoSpaces) {
    const auto value =
        parseForeignJson(R"({"z":[1,{"b":null,"a":true}],"a":{},"m":[],"é":false,"B":"x"})");
    ASSERT_TRUE(value);
    EXPECT_EQ(printForeignJson(*value), R"({
  "B": "x",
  "a": {},
  "m": [],
  "z": [
    1,
    {
      "a": true,
      "b": null
    }
  ],
  "é": false
})");
}

TEST(ForeignJson, PrintedTextReadsBackAsTheSameValue) {
    const char* text =
        R"({"k":[1.50,-2,3e3,{"deep":[[[{"x":"\t/"}]]]}],"u":"\ud834\udd1e","n":null})";
    const auto first = parseForeignJson(text);
    ASSERT_TRUE(first);
    const auto second = parseForeignJson(printForeignJson(*first));
    ASSERT_TRUE(second);
    EXPECT_EQ(*first, *second);
}

TEST(ForeignJson, TheLastOfDuplicateKeysWins) {
    EXPECT_EQ(roundTrip(R"({"a":1,"a":{"b":2}})"), "{\n  \"a\": {\n    \"b\": 2\n  }\n}");
}

TEST(ForeignJson, RefusesWhatIsNotOneValidDocument) {
    for (const std::string_view bad :
         {"", "{", "{\"a\":}", "[1,]", "{} {}", "\"\xff\"", "\"\xc0\xaf\"", "\"\\ud800\"", "1e400",
          "-1e400", "NaN", "'a'", "[1] x", "{\"a\" 1}", "\"tab\there\""}) {
        EXPECT_FALSE(parseForeignJson(bad)) << bad;
    }
}

TEST(ForeignJson, RefusesNestingBeyondTheLimit) {
    const std::string ok = std::string(128, '[') + std::string(128, ']');
    EXPECT_TRUE(parseForeignJson(ok));
    EXPECT_FALSE(parseForeignJson("[" + ok + "]"));
    EXPECT_FALSE(parseForeignJson(std::string(200000, '{')));
}

TEST(ForeignJson, StringLiteralsAreValidJson) {
    EXPECT_EQ(jsonStringLiteral("/Apps/It's \"me\"\\\n"), R"("/Apps/It's \"me\"\\\n")");
    const auto back = parseForeignJson(jsonStringLiteral("x\x7f\x01/y"));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back->text(), "x\x7f\x01/y");
}

} // namespace
} // namespace vesperon
