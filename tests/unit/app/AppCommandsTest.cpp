// The shortcut, switches, URL automation, help, presets and the task dialog.
#include "AppScenario.hpp"

#include <fstream>

#include "app/SettingsMenu.hpp"

namespace vesperon::testing {
namespace {

using Commands = AppScenario;

// --- shortcut ----------------------------------------------------------------------------

TEST_F(Commands, ShortcutStartsTheSelectedDurationAndEndsItManually) {
    make();
    app->panel()->selectDuration(1800);
    hotKey.press(); // on the handler's thread: nothing happens before the main queue runs
    EXPECT_TRUE(privileged.requests.empty());
    scheduler.drain();
    ASSERT_EQ(privileged.requests.size(), 1u);
    EXPECT_EQ(privileged.requests[0][2], "1800");

    hotKey.press(); // still starting: cancels
    scheduler.drain();
    EXPECT_EQ(app->finishReason(), "Ended manually");
    EXPECT_TRUE(app->stopping());
    privileged.respond(true);
    scheduler.advance(3.0);
    EXPECT_FALSE(sawStatus("Active — ready to close lid"));
    scheduler.advance(4.0);
    EXPECT_EQ(app->lastOutcome(), "Ended manually · sleep restored");
}

TEST_F(Commands, ShortcutDuringARunningSessionEndsIt) {
    make();
    startVerified(3600);
    hotKey.press();
    scheduler.drain();
    EXPECT_EQ(app->finishReason(), "Ended manually");
    EXPECT_TRUE(app->stopping());
}

TEST_F(Commands, ShortcutDoesNothingWhileRestoringOrWithAnInvalidEntry) {
    machine.rootState = true;
    make();
    app->restore();
    hotKey.press();
    scheduler.drain();
    EXPECT_EQ(privileged.requests.size(), 1u);
    EXPECT_EQ(app->finishReason(), "Session ended");
    privileged.respond(true);

    app->panel()->customTextChanged("25", "0");
    hotKey.press();
    scheduler.drain();
    EXPECT_EQ(privileged.requests.size(), 1u);
    app->panel()->customTextChanged("0", "45");
    hotKey.press();
    scheduler.drain();
    ASSERT_EQ(privileged.requests.size(), 2u);
    EXPECT_EQ(privileged.requests[1][2], "2700");
}

TEST_F(Commands, ShortcutAfterTheControllerIsGoneDoesNothing) {
    make();
    hotKey.press();
    app.reset();
    scheduler.drain(); // the queued toggle finds no controller
    EXPECT_TRUE(privileged.requests.empty());
}

// --- login item, switches, help --------------------------------------------------------------

TEST_F(Commands, LoginTogglesTheAutostartFile) {
    make();
    const std::string file = home + "/.config/autostart/local.vesperon.app.desktop";
    app->login();
    EXPECT_TRUE(fs::exists(file));
    app->login();
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(ui.alerts.empty());
}

TEST_F(Commands, LoginFailureIsShown) {
    make();
    fs::create_directories(home + "/.config");
    std::ofstream(home + "/.config/autostart") << "not a folder";
    app->login();
    ASSERT_EQ(ui.alerts.size(), 1u);
    EXPECT_EQ(ui.alerts[0].title, "Could not save login setting");
    EXPECT_FALSE(ui.alerts[0].message.empty());
}

TEST_F(Commands, SessionAlertsNeedPermission) {
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
    app->toggleSessionAlerts();
    EXPECT_FALSE(app->preferences().sessionAlertsEnabled());
    EXPECT_EQ(notifier.authorizationRequests, 2);
}

TEST_F(Commands, UnreadablePreferencesAreShownNotSwallowed) {
    std::ofstream(temp.path() + "/preferences.plist") << "not a property list";
    make();
    app->toggleAutomation();
    ASSERT_EQ(ui.alerts.size(), 1u);
    EXPECT_EQ(ui.alerts[0].title, "Could not save setting");
    EXPECT_NE(ui.alerts[0].message.find("/preferences.plist could not be read"), std::string::npos);
    app->deletePreset(); // the store's reason beside the corrupt-storage text
    EXPECT_EQ(ui.alerts.back().title, "No presets saved");
    EXPECT_EQ(ui.alerts.back().message.rfind("Saved presets could not be read.", 0), 0u);
    EXPECT_NE(ui.alerts.back().message.find(ui.alerts[0].message), std::string::npos);
}

TEST_F(Commands, SupportAndAbout) {
    make();
    app->support();
    EXPECT_EQ(workspace.opened, std::vector<std::string>{"mailto:help@vesperon.test"});
    app->about();
    EXPECT_EQ(ui.aboutShown, 1);
    app->customDuration();
    EXPECT_EQ(ui.focusRequests, 1);
}

// --- URL automation ---------------------------------------------------------------------------

TEST_F(Commands, UrlsDoNothingWhileAutomationIsOff) {
    make();
    app->openURLs({"vesperon://start?minutes=5"});
    EXPECT_TRUE(privileged.requests.empty());
    app->toggleAutomation();
    EXPECT_TRUE(app->preferences().automationEnabled());
    app->openURLs({"vesperon://start?minutes=5", "vesperon://stop"});
    app->openURLs({});
    app->openURLs({"vesperon://start?minutes=0"});
    app->openURLs({"vesperon://start?minutes=5&x=1"});
    EXPECT_TRUE(privileged.requests.empty());
    app->openURLs({"vesperon://start?minutes=5"});
    ASSERT_EQ(privileged.requests.size(), 1u);
    EXPECT_EQ(privileged.requests[0][2], "300");
}

TEST_F(Commands, AutomationStopEndsTheSessionWithItsReason) {
    make();
    app->toggleAutomation();
    app->openURLs({"vesperon://stop"}); // no session: changes nothing
    EXPECT_EQ(app->finishReason(), "Session ended");
    startVerified(600);
    app->openURLs({"vesperon://stop"});
    EXPECT_EQ(app->finishReason(), "Ended by automation");
    scheduler.advance(4.0);
    EXPECT_EQ(app->lastOutcome(), "Ended by automation · sleep restored");
    // A later session without a reason of its own reports the default.
    startVerified(600);
    app->quit();
    scheduler.advance(4.0);
    EXPECT_EQ(app->lastOutcome(), "Session ended · sleep restored");
}

TEST_F(Commands, AutomationStopDuringARestoreNamesNoLaterSession) {
    machine.rootState = true;
    make();
    app->toggleAutomation();
    app->restore();
    app->openURLs({"vesperon://stop"});
    privileged.respond(true);
    startVerified(600);
    app->quit();
    scheduler.advance(4.0);
    EXPECT_EQ(app->lastOutcome(), "Session ended · sleep restored");
}

// --- presets --------------------------------------------------------------------------------

TEST_F(Commands, SavingAPresetStoresTheSelectedDurationUnderTheTypedName) {
    make();
    app->panel()->selectDuration(5400);
    ui.answer(0, "  Long build  ");
    app->savePreset();
    ASSERT_EQ(ui.dialogs.size(), 1u);
    EXPECT_EQ(ui.dialogs[0].title, "Save preset");
    ASSERT_TRUE(ui.dialogs[0].textField);
    EXPECT_EQ(ui.dialogs[0].textField->placeholder, "Preset name");
    ASSERT_EQ(app->preferences().presets().size(), 1u);
    EXPECT_EQ(app->preferences().presets()[0].name, "Long build");
    EXPECT_EQ(app->preferences().presets()[0].seconds, 5400);
    EXPECT_TRUE(ui.alerts.empty());

    ui.answer(1, "Ignored"); // Cancel
    app->savePreset();
    EXPECT_EQ(app->preferences().presets().size(), 1u);

    ui.answer(0, "");
    app->savePreset();
    EXPECT_EQ(ui.alerts.back(), (ShownAlert{"Preset could not be saved",
                                            "Give the preset a name of 1\u201330 characters."}));
}

TEST_F(Commands, NinthPresetIsRefusedWithTheLimitMessage) {
    make();
    for (int i = 0; i < 8; ++i) {
        ui.answer(0, "P" + std::to_string(i));
        app->savePreset();
    }
    ui.answer(0, "One more");
    app->savePreset();
    EXPECT_EQ(ui.alerts.back(),
              (ShownAlert{"Preset could not be saved",
                          "You can save up to eight presets. Delete one before adding another."}));
    EXPECT_EQ(app->preferences().presets().size(), 8u);
}

TEST_F(Commands, SelectingAPresetOnlyWhileIdle) {
    make();
    ASSERT_TRUE(app->preferences().savePreset("Short", 900));
    const std::string id = app->preferences().presets()[0].id.text();
    app->panel()->customTextChanged("x", "1");
    app->selectPreset(id);
    EXPECT_EQ(app->panel()->selectedSeconds(), 900);
    EXPECT_TRUE(app->panel()->customValid());
    EXPECT_EQ(app->preferences().lastDuration(), 900);
    EXPECT_EQ(app->panel()->model().clockText, "15m");

    app->selectPreset("00000000-0000-4000-8000-000000000000"); // deleted meanwhile
    EXPECT_EQ(app->panel()->selectedSeconds(), 900);

    ASSERT_TRUE(app->preferences().savePreset("Long", 7200));
    startVerified(600);
    app->selectPreset(app->preferences().presets()[1].id.text());
    EXPECT_EQ(app->panel()->selectedSeconds(), 900);
    EXPECT_EQ(app->preferences().lastDuration(), 600);
}

TEST_F(Commands, SavingDuringASessionStoresThePanelsSelectionNotTheSessionLength) {
    make();
    startVerified(600);
    app->panel()->selectDuration(7200);
    ui.answer(0, "Two hours");
    app->savePreset();
    ASSERT_EQ(app->preferences().presets().size(), 1u);
    EXPECT_EQ(app->preferences().presets()[0].seconds, 7200);
}

TEST_F(Commands, DeletingPresets) {
    make();
    app->deletePreset();
    EXPECT_EQ(ui.alerts.back(),
              (ShownAlert{"No presets saved", "Save a duration to create your first preset."}));
    EXPECT_TRUE(ui.dialogs.empty());

    ASSERT_TRUE(app->preferences().savePreset("A", 600));
    ASSERT_TRUE(app->preferences().savePreset("B", 1200));
    ui.answer(0, "", 1);
    app->deletePreset();
    ASSERT_TRUE(ui.dialogs.back().popUp);
    EXPECT_EQ(ui.dialogs.back().popUp->items, (std::vector<std::string>{"A", "B"}));
    ASSERT_EQ(app->preferences().presets().size(), 1u);
    EXPECT_EQ(app->preferences().presets()[0].name, "A");

    ui.answer(1, "", 0); // Cancel
    app->deletePreset();
    ui.answer(0, "", 7); // out of range
    app->deletePreset();
    EXPECT_EQ(app->preferences().presets().size(), 1u);
}

TEST_F(Commands, CorruptPresetStorageIsReportedNotOverwritten) {
    {
        PropertyListFile file(temp.path() + "/preferences.plist");
        ASSERT_TRUE(file.setValue("Vesperon.savedPresets.v1", std::string("not data")));
    }
    make();
    const std::string before = [&] {
        std::ifstream in(temp.path() + "/preferences.plist");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    app->deletePreset();
    EXPECT_EQ(ui.alerts.back().title, "No presets saved");
    EXPECT_EQ(ui.alerts.back().message,
              "Saved presets could not be read. They have been preserved; restore the saved data "
              "before editing presets.");
    ui.answer(0, "New");
    app->savePreset();
    EXPECT_EQ(ui.alerts.back().title, "Preset could not be saved");
    EXPECT_EQ(ui.alerts.back().message, ui.alerts[0].message);
}

// --- the "Run a task" dialog ---------------------------------------------------------------

TEST_F(Commands, TaskDialogRefusesInvalidCommands) {
    make();
    for (const std::string& text :
         {std::string(), std::string(" \n\t "), std::string(16385, 'a'), std::string("a\0b", 3)}) {
        ui.answer(0, text);
        app->runTask();
        EXPECT_EQ(ui.alerts.back(), (ShownAlert{"Enter a valid command",
                                                "Commands must be between 1 byte and 16 KB."}));
    }
    EXPECT_TRUE(privileged.requests.empty());
    EXPECT_EQ(ui.dialogs[0].title, "Run a task");
    EXPECT_EQ(ui.dialogs[0].buttons, (std::vector<std::string>{"Run & stay awake", "Cancel"}));

    ui.answer(0, std::string(16384, 'a'));
    app->runTask();
    EXPECT_EQ(privileged.requests.size(), 1u);
}

TEST_F(Commands, TaskDialogTrimsAndStartsTheSelectedDuration) {
    make();
    app->panel()->selectDuration(1800);
    ui.answer(0, "  make -j2 \n");
    app->runTask();
    EXPECT_EQ(app->pendingCommand(), "make -j2");
    ASSERT_EQ(privileged.requests.size(), 1u);
    EXPECT_EQ(privileged.requests[0][2], "1800");
    // Busy now: the dialog is not offered again.
    app->runTask();
    EXPECT_EQ(ui.dialogs.size(), 1u);
}

TEST_F(Commands, TaskDialogCancelledOrRefusedStartLeavesNoPendingCommand) {
    make();
    ui.answer(1, "ls");
    app->runTask();
    EXPECT_FALSE(app->pendingCommand());
    machine.battery = false;
    ui.answer(0, "ls");
    app->runTask();
    EXPECT_FALSE(app->pendingCommand());
    EXPECT_EQ(ui.alerts.back().title, "Session cannot start");
}

} // namespace
} // namespace vesperon::testing

namespace vesperon::testing {
namespace {

std::vector<std::string> titles(const std::vector<MenuEntry>& entries) {
    std::vector<std::string> result;
    for (const auto& entry : entries) {
        result.push_back(entry.separator ? "-" : entry.title);
    }
    return result;
}

TEST_F(Commands, SettingsMenuListsEveryCommandWithCurrentChecks) {
    make();
    ASSERT_TRUE(app->preferences().savePreset("Build", 5400));
    app->toggleAutomation();
    std::vector<MenuEntry> menu = settingsMenu(*app);
    EXPECT_EQ(titles(menu),
              (std::vector<std::string>{
                  "Custom duration…", "Connect coding agents…", "Start another duration", "Presets",
                  "-", "Toggle session  ⌃⌥⌘Space", "Allow URL automation", "Session-ended alerts",
                  "Open at login", "Restore normal sleep…", "Contact support…", "About Vesperon",
                  "Quit"}));
    EXPECT_EQ(
        titles(menu[3].submenu),
        (std::vector<std::string>{"Build", "-", "Save selected duration…", "Delete a preset…"}));
    EXPECT_TRUE(menu[6].checked);
    EXPECT_FALSE(menu[7].checked);
    EXPECT_FALSE(menu[8].checked);

    menu[8].action(); // Open at login
    EXPECT_TRUE(settingsMenu(*app)[8].checked);
    menu[3].submenu[0].action(); // the preset
    EXPECT_EQ(app->panel()->selectedSeconds(), 5400);
    menu[2].submenu[1].action(); // 8-hour session
    ASSERT_EQ(privileged.requests.size(), 1u);
    EXPECT_EQ(privileged.requests[0][2], "28800");
}

} // namespace
} // namespace vesperon::testing
