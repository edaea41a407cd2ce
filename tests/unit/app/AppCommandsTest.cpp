// The shortcut and URL automation.
#include "AppScenario.hpp"

namespace vesperon::testing {
namespace {

using Commands = AppScenario;

TEST_F(Commands, ShortcutTogglesTheSelectedDurationOnTheMainQueue) {
    hotKey.available = false;
    make();
    EXPECT_EQ(app->panel()->model().stateText, "Session shortcut unavailable");
    hotKey.available = true;
    make();
    EXPECT_NE(app->panel()->model().stateText, "Session shortcut unavailable");
    // Refused later (a portal asks the user first): shown once the main queue runs.
    std::thread([&] { hotKey.refused(); }).join();
    scheduler.drain();
    EXPECT_EQ(app->panel()->model().stateText, "Session shortcut unavailable");
    make();
    app->panel()->customTextChanged("25", "0"); // invalid: starts nothing, by no button
    hotKey.press();
    scheduler.drain();
    EXPECT_FALSE(app->panel()->model().agentEnabled);
    app->panel()->agentAction(), app->panel()->taskAction(), app->panel()->mainAction();
    EXPECT_TRUE(ui.dialogs.empty());
    app->panel()->customTextChanged("0", "45");
    hotKey.press();
    EXPECT_TRUE(privileged.requests.empty()); // nothing before the main queue runs
    scheduler.drain();
    ASSERT_EQ(privileged.requests.size(), 1u);
    EXPECT_EQ(privileged.requests[0][2], "2700");

    hotKey.press(); // still starting: cancels
    scheduler.drain();
    privileged.respond(true);
    scheduler.advance(7.0);
    EXPECT_EQ(app->lastOutcome(), "Ended manually · sleep restored");
    hotKey.press();
    app.reset();
    scheduler.drain(); // the queued toggle finds no controller
    EXPECT_EQ(privileged.requests.size(), 1u);
}

TEST_F(Commands, UrlsActOnlyWhileAutomationIsOnAndWellFormed) {
    make();
    app->openURLs({"vesperon://start?minutes=5"});
    app->toggleAutomation();
    app->openURLs({"vesperon://start?minutes=5", "vesperon://stop"}); // one at a time
    app->openURLs({"vesperon://start?minutes=0"});
    EXPECT_TRUE(privileged.requests.empty());
    app->openURLs({"vesperon://start?minutes=5"});
    ASSERT_EQ(privileged.requests.size(), 1u);
    EXPECT_EQ(privileged.requests[0][2], "300");
}

} // namespace
} // namespace vesperon::testing
