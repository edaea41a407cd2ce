// The shortcut, switches, URL automation and presets.
#include "AppScenario.hpp"

#include <fstream>

namespace vesperon::testing {
namespace {

using Commands = AppScenario;

TEST_F(Commands, ShortcutStartsTheSelectedDurationOnTheMainQueueAndEndsIt) {
    hotKey.available = false;
    make();
    EXPECT_EQ(app->panel()->model().stateText, "Session shortcut unavailable");
    hotKey.available = true;
    make();
    app->panel()->customTextChanged("25", "0");
    hotKey.press();
    scheduler.drain();
    EXPECT_TRUE(privileged.requests.empty()); // an invalid entry starts nothing
    app->panel()->customTextChanged("0", "45");
    hotKey.press();
    EXPECT_TRUE(privileged.requests.empty()); // nothing before the main queue runs
    scheduler.drain();
    ASSERT_EQ(privileged.requests.size(), 1u);
    EXPECT_EQ(privileged.requests[0][2], "2700");

    hotKey.press(); // still starting: cancels
    scheduler.drain();
    EXPECT_EQ(app->finishReason(), "Ended manually");
    privileged.respond(true);
    scheduler.advance(7.0);
    EXPECT_FALSE(sawStatus("Active — ready to close lid"));
    EXPECT_EQ(app->lastOutcome(), "Ended manually · sleep restored");

    hotKey.press();
    app.reset();
    scheduler.drain(); // the queued toggle finds no controller
    EXPECT_EQ(privileged.requests.size(), 1u);
}

TEST_F(Commands, UrlsActOnlyWhileAutomationIsOnAndNameTheirReason) {
    make();
    app->openURLs({"vesperon://start?minutes=5"});
    EXPECT_TRUE(privileged.requests.empty());
    app->toggleAutomation();
    for (const auto& urls :
         std::vector<std::vector<std::string>>{{"vesperon://start?minutes=5", "vesperon://stop"},
                                               {},
                                               {"vesperon://start?minutes=0"},
                                               {"vesperon://start?minutes=5&x=1"},
                                               {"vesperon://stop"}}) {
        app->openURLs(urls);
    }
    EXPECT_TRUE(privileged.requests.empty());
    EXPECT_EQ(app->finishReason(), "Session ended");
    app->openURLs({"vesperon://start?minutes=5"});
    ASSERT_EQ(privileged.requests.size(), 1u);
    EXPECT_EQ(privileged.requests[0][2], "300");
    privileged.respond(true);
    scheduler.advance(3.0);
    app->openURLs({"vesperon://stop"});
    scheduler.advance(4.0);
    EXPECT_EQ(app->lastOutcome(), "Ended by automation · sleep restored");
    // A later session without a reason of its own reports the default.
    startVerified(600);
    app->quit();
    scheduler.advance(4.0);
    EXPECT_EQ(app->lastOutcome(), "Session ended · sleep restored");
}

TEST_F(Commands, SessionAlertsNeedPermissionAndLoginFailureIsShown) {
    make();
    notifier.grant = false;
    app->toggleSessionAlerts();
    scheduler.drain();
    EXPECT_FALSE(app->preferences().sessionAlertsEnabled());
    notifier.grant = true;
    app->toggleSessionAlerts();
    EXPECT_FALSE(app->preferences().sessionAlertsEnabled()); // the answer is on its way
    scheduler.drain();
    EXPECT_TRUE(app->preferences().sessionAlertsEnabled());
    app->toggleSessionAlerts(); // switching off asks nothing
    EXPECT_FALSE(app->preferences().sessionAlertsEnabled());
    EXPECT_EQ(notifier.authorizationRequests, 2);

    app->login();
    EXPECT_TRUE(fs::exists(home + "/.config/autostart/local.vesperon.app.desktop"));
    fs::remove_all(home + "/.config/autostart");
    std::ofstream(home + "/.config/autostart") << "not a folder";
    app->login();
    ASSERT_EQ(ui.alerts.size(), 1u);
    EXPECT_EQ(ui.alerts[0].title, "Could not save login setting");
    EXPECT_FALSE(ui.alerts[0].message.empty());
}

TEST_F(Commands, UnreadablePreferencesAreShownAndNotOverwritten) {
    {
        PropertyListFile file(temp.path() + "/preferences.plist");
        ASSERT_TRUE(file.setValue("Vesperon.savedPresets.v1", std::string("not data")));
    }
    make();
    app->deletePreset();
    const std::string corrupt = "Saved presets could not be read. They have been preserved; "
                                "restore the saved data before editing presets.";
    EXPECT_EQ(ui.alerts.back(), (ShownAlert{"No presets saved", corrupt}));
    ui.answer(0, "New");
    app->savePreset();
    EXPECT_EQ(ui.alerts.back(), (ShownAlert{"Preset could not be saved", corrupt}));

    std::ofstream(temp.path() + "/preferences.plist") << "not a property list";
    app->toggleAutomation();
    EXPECT_EQ(ui.alerts.back().title, "Could not save setting");
    EXPECT_NE(ui.alerts.back().message.find("/preferences.plist could not be read"),
              std::string::npos);
}

TEST_F(Commands, PresetsAreSavedSelectedWhileIdleAndDeleted) {
    make();
    app->deletePreset();
    EXPECT_EQ(ui.alerts.back(),
              (ShownAlert{"No presets saved", "Save a duration to create your first preset."}));
    app->panel()->selectDuration(5400);
    ui.answer(0, "  Long build  ");
    ui.answer(1, "Cancelled");
    ui.answer(0, "");
    for (int i = 0; i < 3; ++i) {
        app->savePreset();
    }
    EXPECT_EQ(ui.alerts.back(), (ShownAlert{"Preset could not be saved",
                                            "Give the preset a name of 1\u201330 characters."}));
    ASSERT_EQ(app->preferences().presets().size(), 1u);
    EXPECT_EQ(app->preferences().presets()[0].name, "Long build");
    EXPECT_EQ(app->preferences().presets()[0].seconds, 5400);
    for (int i = 1; i < 9; ++i) {
        ui.answer(0, "P" + std::to_string(i));
        app->savePreset();
    }
    EXPECT_EQ(ui.alerts.back().message,
              "You can save up to eight presets. Delete one before adding another.");
    EXPECT_EQ(app->preferences().presets().size(), 8u);

    app->panel()->customTextChanged("x", "1");
    app->selectPreset(app->preferences().presets()[0].id.text());
    EXPECT_TRUE(app->panel()->customValid());
    EXPECT_EQ(app->panel()->model().clockText, "1h 30m");
    app->panel()->selectDuration(600);
    app->selectPreset("00000000-0000-4000-8000-000000000000"); // deleted meanwhile
    EXPECT_EQ(app->panel()->selectedSeconds(), 600);
    startVerified(600);
    app->selectPreset(app->preferences().presets()[0].id.text()); // not while running
    EXPECT_EQ(app->panel()->selectedSeconds(), 600);

    ui.answer(0, "", 1);
    ui.answer(1, "", 0); // Cancel
    ui.answer(0, "", 9); // out of range
    for (int i = 0; i < 3; ++i) {
        app->deletePreset();
    }
    ASSERT_EQ(app->preferences().presets().size(), 7u);
    EXPECT_EQ(app->preferences().presets()[1].name, "P2");
}

} // namespace
} // namespace vesperon::testing
