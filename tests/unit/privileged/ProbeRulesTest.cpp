#include <gtest/gtest.h>

#include "platform/SystemProbes.hpp"

namespace vesperon::testing {
namespace {

TEST(ProbeRules, SleepDisabledIsTheFirstValueOnALineNamedExactlySo) {
    const std::vector<std::pair<std::string, std::optional<bool>>> rows = {
        {"System-wide power settings:\n SleepDisabled\t\t1\n", true},
        {" SleepDisabled\t\t0\n", false},
        {" SleepDisabled\t\t2\n", false},
        {"SleepDisabled\xC2\xA0"
         "1",
         true},                         // no-break space
        {"SleepDisabled 1\xFF", false}, // a byte that is not UTF-8 belongs to the field
        {" SleepDisabled\n SleepDisabled 1\n SleepDisabled 0\n", true},
        {"", std::nullopt},
        {" SleepDisabledX 1\n sleepdisabled 1\n", std::nullopt},
        {" disablesleep SleepDisabled 1\n", std::nullopt}};
    for (const auto& [text, expected] : rows) {
        EXPECT_EQ(parseSleepDisabled(text), expected) << ::testing::PrintToString(text);
    }
    // A value after any line separator is not the value of the name.
    for (const std::string separator : {"\n", "\r", "\v", "\xC2\x85", "\xE2\x80\xA8"}) {
        EXPECT_EQ(parseSleepDisabled("SleepDisabled" + separator + "1"), std::nullopt)
            << ::testing::PrintToString(separator);
    }
}

} // namespace
} // namespace vesperon::testing
