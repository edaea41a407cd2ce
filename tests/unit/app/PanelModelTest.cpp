#include <gtest/gtest.h>

#include "app/PanelModel.hpp"

namespace vesperon {
namespace {

TEST(CustomSeconds, AcceptsOneMinuteToTwentyFourHoursOfPlainDigits) {
    EXPECT_EQ(customSeconds("0", "1"), 60);
    EXPECT_EQ(customSeconds("01", "05"), 3900);
    EXPECT_EQ(customSeconds("24", "0"), 86400);
    // Refused "hours:minutes"; "\xd9\xa1" is ARABIC-INDIC DIGIT ONE.
    for (const std::string entry :
         {"0:0", "24:1", "1:60", ":5", " 1:0", "+1:0", "\xd9\xa1:0", "99999999999999999999999:0"}) {
        const std::size_t colon = entry.find(':');
        EXPECT_EQ(customSeconds(entry.substr(0, colon), entry.substr(colon + 1)), std::nullopt)
            << entry;
    }
}

} // namespace
} // namespace vesperon
