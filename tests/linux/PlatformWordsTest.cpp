// A Linux user reads Linux's words: no macOS prompt, no Mac to cool down.
#include <gtest/gtest.h>

#include <string>

#include "app/Alerts.hpp"
#include "app/StatusLine.hpp"

namespace vesperon {
namespace {

TEST(PlatformWords, TheAppNamesTheComputerAndItsOwnPrompt) {
    EXPECT_EQ(StatusLine::waitingForAuthorization, "Waiting for authorization…");
    EXPECT_EQ(alertText(AlertKind::SessionCannotStart).text,
              "Connect power or charge above 15%, and let the computer cool down.");
    for (const std::string& message :
         {Dialogs::useTimedSession().message, Dialogs::connectAgent("Codex").message}) {
        EXPECT_EQ(message.find("Mac"), std::string::npos) << message;
        EXPECT_NE(message.find("computer"), std::string::npos) << message;
    }
}

} // namespace
} // namespace vesperon
