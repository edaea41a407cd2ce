#include <gtest/gtest.h>

#include <string>

#include "preferences/AutomationAction.hpp"

namespace vesperon {
namespace {

TEST(AutomationAction, AcceptsStopAndStartWithWholeMinutesAndNothingElse) {
    const std::string base = "vesperon://start?minutes=";
    // Leading zeros keep a URL of exactly 128 characters well formed.
    const std::string longest = base + std::string(128 - base.size() - 2, '0') + "15";
    const std::vector<std::pair<std::string, AutomationAction>> accepted = {
        {"vesperon://stop", AutomationAction::stop()},
        {base + "1", AutomationAction::start(60)},
        {base + "030", AutomationAction::start(1800)},
        {base + "1440", AutomationAction::start(86'400)},
        {longest, AutomationAction::start(900)},
    };
    for (const auto& [url, action] : accepted) {
        EXPECT_EQ(AutomationAction::parse(url), action) << url;
    }
    EXPECT_FALSE(AutomationAction::parse(base + "0" + longest.substr(base.size()))); // 129
    for (const char* url :
         {// minutes out of range or not plain digits
          "vesperon://start?minutes=0", "vesperon://start?minutes=1441",
          "vesperon://start?minutes=99999999999999999999", "vesperon://start?minutes=+30",
          "vesperon://start?minutes=3.5",
          "vesperon://start?minutes=", "vesperon://start?minutes=30\n",
          // anything but exactly one minutes item
          "vesperon://start", "vesperon://start?", "vesperon://start?minutes=30&minutes=40",
          "vesperon://start?minutes=30&", "vesperon://start?minutes=30;x=1",
          "vesperon://start?Minutes=30", "vesperon://stop?", "vesperon://stop?minutes=5",
          // other schemes, hosts and URL parts
          "vesperon://STOP", "VESPERON://stop", "other://stop", "vesperon:stop", "vesperon://",
          "vesperon://stop:80", "vesperon://start?minutes=5#x", "vesperon://stop/",
          "vesperon://stop ", ""}) {
        EXPECT_FALSE(AutomationAction::parse(url)) << url;
    }
}

} // namespace
} // namespace vesperon
