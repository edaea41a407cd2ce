#include "agents/ForeignJson.hpp"

#include <gtest/gtest.h>

namespace vesperon {
namespace {

std::string roundTrip(std::string_view text) {
    const auto value = parseForeignJson(text);
    EXPECT_TRUE(value) << text;
    return value ? printForeignJson(*value) : std::string();
}

TEST(ForeignJson, ValuesComeBackAsTheyWereWritten) {
    // Numbers keep their text: what a double-based reader would round or reformat.
    for (const char* number :
         {"123456789012345678901234567890", "1.0", "1E+300", "-0.0",
          "0.1000000000000000055511151231257827", "1e-400", "-9223372036854775808"}) {
        EXPECT_EQ(roundTrip(std::string("[") + number + "]"),
                  std::string("[\n  ") + number + "\n]");
    }
    // Slashes unescaped, non-ASCII text as UTF-8, control characters escaped.
    EXPECT_EQ(roundTrip(R"("a/b\/c \u00fc\ud83d\ude00 ü")"), "\"a/b/c ü😀 ü\"");
    EXPECT_EQ(roundTrip(R"("q\" b\\ \b\f\n\r\t \u0001 \u0000")"),
              R"("q\" b\\ \b\f\n\r\t \u0001 \u0000")");
    EXPECT_EQ(roundTrip(R"({"z":[1,{"b":null,"a":true}],"a":{},"m":[],"é":false,"B":"x","B":"y"})"),
              R"({
  "B": "y",
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
    const auto literal = parseForeignJson(jsonStringLiteral("/Apps/It's \"me\"\\\n\x7f\x01"));
    ASSERT_TRUE(literal);
    EXPECT_EQ(*literal->text(), "/Apps/It's \"me\"\\\n\x7f\x01");
}

TEST(ForeignJson, RefusesWhatIsNotOneValidDocument) {
    const std::string deepest = std::string(128, '[') + std::string(128, ']');
    const std::string tooDeep = "[" + deepest + "]";
    EXPECT_TRUE(parseForeignJson(deepest));
    for (const std::string& bad :
         std::vector<std::string>{"", "{\"a\":}", "[1,]", "{} {}", "\"\xff\"", "\"\xc0\xaf\"",
                                  "\"\\ud800\"", "1e400", "NaN", "\"tab\there\"", tooDeep}) {
        EXPECT_FALSE(parseForeignJson(bad)) << bad;
    }
}

} // namespace
} // namespace vesperon
