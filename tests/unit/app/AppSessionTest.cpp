// Launch, start, monitoring, ending and restore of the session controller.
#include "AppScenario.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace vesperon::testing {
namespace {

using Session = AppScenario;

// --- launch -------------------------------------------------------------------------

TEST_F(Session, LaunchPreselectsTheLastDurationAndTicksEveryTwoSeconds) {
    {
        auto preferences = makePreferences();
        ASSERT_TRUE(preferences->setLastDuration(1800));
    }
    make();
    ASSERT_NE(app->panel(), nullptr);
    EXPECT_EQ(app->panel()->selectedSeconds(), 1800);
    EXPECT_EQ(app->statusLine(), "Ready — no session running");
    EXPECT_EQ(app->finishReason(), "Session ended");
    const int reads = machine.overrideReads;
    scheduler.advance(10.0);
    EXPECT_EQ(app->statusLine(), "Ready — no session running");
    EXPECT_GE(ui.refreshes, 5);
    EXPECT_EQ(machine.overrideReads, reads); // an idle tick probes nothing
}

TEST_F(Session, LeftoverRootStateAsksForRestoreAndBlocksStarting) {
    machine.rootState = true;
    make();
    EXPECT_EQ(app->statusLine(), "Recovery pending — use Restore normal sleep");
    EXPECT_FALSE(app->sessionRunning());
    EXPECT_EQ(app->panel()->model().stateText, "Recovery pending");
    EXPECT_FALSE(app->panel()->model().mainEnabled);

    app->start(3600);
    EXPECT_TRUE(privileged.requests.empty()); // no password asked for
    ASSERT_EQ(ui.alerts.size(), 1u);
    EXPECT_EQ(ui.alerts[0], (ShownAlert{"A session needs attention",
                                        "Restore normal sleep before starting another session."}));
    EXPECT_TRUE(fs::is_empty(tmp));

    // The watcher of the earlier run cleans up by itself; then starting works.
    machine.rootState = false;
    app->start(3600);
    EXPECT_EQ(privileged.requests.size(), 1u);
}

TEST_F(Session, ShortcutTakenByAnotherApplicationIsTheOutcomeLine) {
    hotKey.available = false;
    make();
    EXPECT_EQ(app->lastOutcome(), "Session shortcut unavailable");
    EXPECT_EQ(app->panel()->model().stateText, "Session shortcut unavailable");
}

// --- start ---------------------------------------------------------------------------

TEST_F(Session, DurationsOutsideOneMinuteToADayStartNothing) {
    make();
    for (int seconds : {59, 86401, 0, -60}) {
        app->start(seconds);
    }
    EXPECT_TRUE(privileged.requests.empty());
    EXPECT_TRUE(ui.alerts.empty());
    EXPECT_TRUE(fs::is_empty(tmp));
    app->start(60);
    app->start(86400); // busy now: ignored, no second prompt
    EXPECT_EQ(privileged.requests.size(), 1u);
}

TEST_F(Session, BatteryOrHeatRefusesToStart) {
    make();
    machine.battery = false;
    app->start(600);
    machine.battery = true;
    machine.thermal = 2;
    app->start(600);
    machine.thermal = 1; // fair is fine
    ASSERT_EQ(ui.alerts.size(), 2u);
    for (const auto& shown : ui.alerts) {
        EXPECT_EQ(shown,
                  (ShownAlert{"Session cannot start",
                              "Connect power or charge above 15%, and let the Mac cool down."}));
    }
    EXPECT_TRUE(privileged.requests.empty());
    app->start(600);
    EXPECT_EQ(privileged.requests.size(), 1u);
}

TEST_F(Session, SetupRequestCarriesPidDurationAndTheSessionFilesPaths) {
    make();
    app->start(5400);
    ASSERT_EQ(privileged.requests.size(), 1u);
    const auto& arguments = privileged.requests[0];
    ASSERT_EQ(arguments.size(), 5u);
    EXPECT_EQ(arguments[0], "--setup");
    EXPECT_EQ(arguments[1], "4242");
    EXPECT_EQ(arguments[2], "5400");
    const std::string folder = *app->sessionFolder();
    EXPECT_EQ(fs::path(folder).parent_path(), fs::path(tmp));
    EXPECT_EQ(arguments[3], folder + "/heartbeat");
    EXPECT_EQ(arguments[4], folder + "/stop");
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_TRUE(fs::exists(arguments[3]));
    EXPECT_EQ(app->statusLine(), "Waiting for macOS authorization…");
    EXPECT_TRUE(app->starting());
    EXPECT_EQ(app->preferences().lastDuration(), 5400);
    EXPECT_EQ(app->panel()->model().stateText, "Authorizing…");
    EXPECT_DOUBLE_EQ(app->panel()->fields().totalSeconds, 5400);
}

TEST_F(Session, CancelledPromptLeavesNothingBehind) {
    make();
    app->start(600);
    const std::string folder = *app->sessionFolder();
    privileged.respond(false, "execution error: User canceled. (-128)\n");
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_FALSE(app->sessionFolder());
    EXPECT_FALSE(app->starting());
    EXPECT_FALSE(app->sessionRunning());
    EXPECT_EQ(app->statusLine(), "Session not started");
    ASSERT_EQ(ui.alerts.size(), 1u);
    EXPECT_EQ(ui.alerts[0],
              (ShownAlert{"Session not started", "execution error: User canceled. (-128)\n"}));
    // Idle again: a new start asks again.
    app->start(600);
    EXPECT_EQ(privileged.requests.size(), 2u);
}

TEST_F(Session, FailedSetupThatLeftRootStateIsEndedThroughTheWatcher) {
    make();
    app->start(600);
    machine.rootState = true; // the helper got far enough to leave state behind
    privileged.respond(false, "Setup failed: something broke\n");
    EXPECT_TRUE(app->sessionRunning());
    EXPECT_TRUE(app->stopping());
    EXPECT_TRUE(fs::exists(*app->sessionFolder() + "/stop"));
    EXPECT_EQ(ui.alerts.back(),
              (ShownAlert{"Session not started", "Setup failed: something broke\n"}));
    // The watcher honours the stop file; the tick follows it to the end.
    machine.rootState = false;
    scheduler.advance(2.0);
    EXPECT_FALSE(app->sessionRunning());
    EXPECT_EQ(app->statusLine(), "Ready — normal sleep restored");
    EXPECT_EQ(app->lastOutcome(), "Session ended · sleep restored");
}

TEST_F(Session, TimedSessionRunsFromPromptToSleepRestored) {
    make();
    ASSERT_TRUE(app->preferences().setSessionAlertsEnabled(true));
    app->start(60);
    privileged.respond(true);
    EXPECT_EQ(app->statusLine(), "Starting — checking sleep setting…");
    EXPECT_TRUE(app->starting());
    EXPECT_TRUE(app->sessionRunning());
    EXPECT_EQ(app->panel()->model().stateText, "Authorizing…");
    scheduler.advance(2.9);
    EXPECT_TRUE(app->starting());
    scheduler.advance(0.1);
    EXPECT_FALSE(app->starting());
    EXPECT_EQ(app->statusLine(), "Active — ready to close lid");
    EXPECT_EQ(app->statusItemTitle(), " 1m");
    EXPECT_EQ(app->panel()->model().stateText, "Ready to close lid");
    EXPECT_EQ(app->panel()->model().mainTitle, "End session");

    const std::string heartbeat = *app->sessionFolder() + "/heartbeat";
    const timespec old[2] = {{0, UTIME_OMIT}, {1000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, heartbeat.c_str(), old, 0), 0);
    scheduler.advance(2.0);
    struct stat info {};
    ASSERT_EQ(::stat(heartbeat.c_str(), &info), 0);
    EXPECT_GT(info.st_mtim.tv_sec, 1000); // renewed by the tick

    scheduler.advance(55.0); // t = 60: time is up
    EXPECT_EQ(app->finishReason(), "Timer ended");
    EXPECT_TRUE(sawStatus("Restoring normal sleep…"));
    scheduler.advance(2.0); // the watcher has restored; the tick sees it
    EXPECT_FALSE(app->sessionRunning());
    EXPECT_EQ(app->statusLine(), "Ready — normal sleep restored");
    EXPECT_EQ(app->lastOutcome(), "Timer ended · sleep restored");
    EXPECT_EQ(app->finishReason(), "Session ended");
    EXPECT_EQ(app->statusItemTitle(), "");
    EXPECT_TRUE(fs::is_empty(tmp));
    ASSERT_EQ(notifier.posted.size(), 1u);
    EXPECT_EQ(notifier.posted[0].title, "Timer ended");
    EXPECT_EQ(notifier.posted[0].body, "Vesperon restored normal sleep.");
    EXPECT_EQ(notifier.posted[0].identifier.size(), 36u);
    EXPECT_EQ(app->panel()->model().stateText, "Timer ended · sleep restored");
}

TEST_F(Session, StopDuringVerificationNeverReportsActiveNorLaunchesTheTask) {
    make();
    ui.answer(0, "touch " + home + "/ran");
    app->runTask();
    ASSERT_TRUE(app->pendingCommand());
    privileged.respond(true);
    scheduler.advance(1.0);
    app->setFinishReason("Ended manually");
    app->stop(); // inside the 3-second window
    EXPECT_FALSE(app->pendingCommand());
    EXPECT_TRUE(fs::exists(*app->sessionFolder() + "/stop"));
    scheduler.advance(2.0); // verification time
    EXPECT_FALSE(app->starting());
    runUntil([&] { return !app->sessionRunning(); }, 2.0);
    scheduler.advance(4.0);
    EXPECT_FALSE(sawStatus("Active — ready to close lid"));
    EXPECT_FALSE(app->taskRunner().isRunning());
    EXPECT_FALSE(fs::exists(home + "/ran"));
    EXPECT_EQ(app->statusLine(), "Ready — normal sleep restored");
    EXPECT_EQ(app->lastOutcome(), "Ended manually · sleep restored");
}

TEST_F(Session, VerificationNeedsTheOverrideAndTheRootState) {
    make();
    app->start(600);
    privileged.onSuccess = [this](const std::vector<std::string>& arguments) {
        stopPath = arguments.at(4);
        machine.override = true; // on, but no root state folder
    };
    privileged.respond(true);
    scheduler.advance(3.0);
    EXPECT_EQ(app->finishReason(), "Start could not be verified");
    EXPECT_TRUE(app->stopping());
    ASSERT_EQ(ui.alerts.size(), 1u);
    EXPECT_EQ(ui.alerts[0],
              (ShownAlert{"Session did not start", "Keep the lid open. The sleep setting or "
                                                   "recovery watcher could not be verified."}));
    EXPECT_FALSE(sawStatus("Active — ready to close lid"));
}

TEST_F(Session, UnreadableOverrideFailsVerification) {
    make();
    app->start(600);
    privileged.onSuccess = [this](const std::vector<std::string>&) {
        machine.rootState = true;
        machine.override = std::nullopt;
    };
    privileged.respond(true);
    scheduler.advance(3.0);
    EXPECT_EQ(app->finishReason(), "Start could not be verified");
    // The session ends only on a definite off.
    machine.rootState = false;
    scheduler.advance(4.0);
    EXPECT_TRUE(app->sessionRunning());
    machine.override = false;
    scheduler.advance(2.0);
    EXPECT_EQ(app->lastOutcome(), "Start could not be verified · sleep restored");
}

// --- monitoring and ending ------------------------------------------------------------

TEST_F(Session, TimeAndBatteryInOneTickEndWithBatteryProtectionAndOneNotification) {
    make();
    ASSERT_TRUE(app->preferences().setSessionAlertsEnabled(true));
    app->start(60);
    privileged.respond(true);
    scheduler.advance(3.0);
    scheduler.advance(56.0); // t = 59
    machine.battery = false;
    scheduler.advance(1.0); // t = 60: the timer and the battery at once
    EXPECT_EQ(app->finishReason(), "Battery protection");
    scheduler.advance(4.0);
    EXPECT_EQ(app->lastOutcome(), "Battery protection · sleep restored");
    ASSERT_EQ(notifier.posted.size(), 1u);
    EXPECT_EQ(notifier.posted[0].title, "Battery protection");
}

TEST_F(Session, HeatWinsOverBatteryAndTimer) {
    make();
    startVerified(60);
    scheduler.advance(56.0);
    machine.battery = false;
    machine.thermal = 3;
    scheduler.advance(2.0);
    EXPECT_EQ(app->finishReason(), "Heat protection");
}

TEST_F(Session, WatcherEndingTheOverrideIsSeenInOneTick) {
    make();
    startVerified(3600);
    // The watcher restores on its own (its own battery check, say).
    machine.override = false;
    machine.rootState = false;
    scheduler.advance(2.0);
    EXPECT_FALSE(app->sessionRunning());
    EXPECT_EQ(app->lastOutcome(), "Protection ended session · sleep restored");
    EXPECT_EQ(app->statusLine(), "Ready — normal sleep restored");
}

TEST_F(Session, OverrideGoneWhileRootStateStaysEndsTheSession) {
    make();
    startVerified(3600);
    machine.override = std::nullopt; // unreadable counts as gone
    scheduler.advance(2.0);
    EXPECT_TRUE(app->stopping());
    EXPECT_EQ(app->finishReason(), "Protection ended session");
    EXPECT_TRUE(fs::exists(stopPath));
}

TEST_F(Session, StallOverThirtySecondsNeedsAttentionAndStillEndsByItself) {
    make();
    startVerified(3600);
    watcherResponds = false;
    app->setFinishReason("Ended manually");
    app->stop();
    scheduler.advance(30.0);
    EXPECT_EQ(app->statusLine(), "Restoring normal sleep…");
    scheduler.advance(2.0);
    EXPECT_EQ(app->statusLine(), "Restoration needs attention");
    EXPECT_EQ(app->lastOutcome(), "Use Restore normal sleep");
    const auto model = app->panel()->model();
    EXPECT_EQ(model.mainTitle, "Restore sleep");
    EXPECT_TRUE(model.mainEnabled);
    // Normal sleep comes back late: the session ends by itself.
    watcherResponds = true;
    scheduler.advance(4.0);
    EXPECT_FALSE(app->sessionRunning());
    EXPECT_EQ(app->statusLine(), "Ready — normal sleep restored");
    EXPECT_EQ(app->lastOutcome(), "Ended manually · sleep restored");
}

TEST_F(Session, SecondStopKeepsTheFirstStopTime) {
    make();
    startVerified(3600);
    watcherResponds = false;
    app->stop();
    scheduler.advance(20.0);
    app->stop();
    scheduler.advance(12.0); // 32 s after the first stop, 12 after the second
    EXPECT_EQ(app->statusLine(), "Restoration needs attention");
}

TEST_F(Session, LostSessionFolderEndsTheSessionAndAsksForRestore) {
    make();
    startVerified(3600);
    fs::remove_all(*app->sessionFolder());
    scheduler.advance(2.0);
    EXPECT_EQ(app->finishReason(), "Session connection lost");
    EXPECT_TRUE(app->stopping());
    EXPECT_EQ(app->statusLine(), "Stop request failed — use Restore normal sleep");
    EXPECT_EQ(app->panel()->model().mainTitle, "Restore sleep");
    // The restore is the way out.
    app->panel()->mainAction();
    ASSERT_EQ(privileged.requests.back(), std::vector<std::string>{"--restore"});
    privileged.respond(true);
    EXPECT_EQ(app->statusLine(), "Ready — normal sleep restored");
    EXPECT_EQ(app->lastOutcome(), "Sleep restored");
    EXPECT_FALSE(app->sessionRunning());
}

TEST_F(Session, WallClockChangesNeitherCountdownNorEnd) {
    make();
    startVerified(600);
    machine.wallShift = 7200; // the user sets the clock two hours ahead
    scheduler.advance(2.0);
    EXPECT_TRUE(app->sessionRunning());
    const double remaining = *app->remainingSeconds();
    EXPECT_NEAR(remaining, 600 - 5, 0.01);
    // The wall-clock end follows the monotonic count.
    EXPECT_NEAR(std::chrono::duration<double>(*app->end() - machine.now()).count(), remaining,
                0.01);
    machine.wallShift = -86400;
    scheduler.advance(590.0); // t = 595
    EXPECT_FALSE(app->stopping());
    scheduler.advance(6.0);
    EXPECT_EQ(app->finishReason(), "Timer ended");
}

TEST_F(Session, TimeAsleepCountsAsElapsed) {
    make();
    startVerified(3600);
    machine.sleptSeconds = 1800;
    scheduler.advance(2.0);
    EXPECT_NEAR(*app->remainingSeconds(), 3600 - 1800 - 5, 0.01);
    EXPECT_EQ(app->statusItemTitle(), " 30m");
    machine.sleptSeconds = 4000;
    scheduler.advance(2.0);
    EXPECT_EQ(app->finishReason(), "Timer ended");
}

TEST_F(Session, AlertsOffPostNothingButTheOutcomeShows) {
    make();
    startVerified(60);
    scheduler.advance(60.0);
    EXPECT_TRUE(notifier.posted.empty());
    EXPECT_EQ(app->lastOutcome(), "Timer ended · sleep restored");
}

TEST_F(Session, AnAlertDoesNotPauseTheHeartbeatOrTheCountdown) {
    make();
    startVerified(3600);
    const double before = *app->remainingSeconds();
    const std::string heartbeat = *app->sessionFolder() + "/heartbeat";
    const timespec old[2] = {{0, UTIME_OMIT}, {1000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, heartbeat.c_str(), old, 0), 0);
    ui.duringAlert = [this] { scheduler.advance(10.0); }; // the user reads it for 10 s
    ui.answer(0, "   ");                                  // a blank preset name
    app->savePreset();
    ASSERT_EQ(ui.alerts.back().title, "Preset could not be saved");
    struct stat info {};
    ASSERT_EQ(::stat(heartbeat.c_str(), &info), 0);
    EXPECT_GT(info.st_mtim.tv_sec, 1000);
    EXPECT_NEAR(*app->remainingSeconds(), before - 10.0, 0.01);
}

TEST_F(Session, StopWithoutSessionOnlyClearsPendingWork) {
    make();
    app->stop();
    EXPECT_EQ(app->statusLine(), "Ready — no session running");
    EXPECT_FALSE(app->stopping());
    EXPECT_TRUE(privileged.requests.empty());
}

// --- quitting --------------------------------------------------------------------------

TEST_F(Session, QuittingIdleTerminatesAtOnce) {
    make();
    EXPECT_EQ(app->applicationShouldTerminate(), AppDelegate::TerminateReply::Now);
    app->quit();
    EXPECT_EQ(ui.terminations, 1);
}

TEST_F(Session, QuittingDuringASessionTerminatesOnlyOnceSleepIsBack) {
    make();
    startVerified(3600);
    EXPECT_EQ(app->applicationShouldTerminate(), AppDelegate::TerminateReply::Cancel);
    EXPECT_EQ(app->statusLine(), "Restoring normal sleep…");
    EXPECT_EQ(ui.terminations, 0);
    watcherResponds = false;
    scheduler.advance(10.0);
    EXPECT_EQ(ui.terminations, 0);
    watcherResponds = true;
    scheduler.advance(4.0);
    EXPECT_EQ(ui.terminations, 1);
    EXPECT_EQ(app->lastOutcome(), "Session ended · sleep restored");
}

TEST_F(Session, QuittingWhileThePromptIsUpTerminatesAfterTheFailedStart) {
    make();
    app->start(600);
    app->quit();
    EXPECT_EQ(ui.terminations, 0);
    privileged.respond(false, "execution error: User canceled. (-128)");
    EXPECT_EQ(ui.terminations, 1);
    EXPECT_TRUE(fs::is_empty(tmp));
}

TEST_F(Session, QuittingDuringVerificationEndsTheSessionFirst) {
    make();
    app->start(600);
    privileged.respond(true);
    app->quit();
    scheduler.advance(3.0);
    EXPECT_EQ(ui.terminations, 0);
    EXPECT_FALSE(sawStatus("Active — ready to close lid"));
    scheduler.advance(4.0);
    EXPECT_EQ(ui.terminations, 1);
}

// --- restore ------------------------------------------------------------------------------

TEST_F(Session, RestoreClearsARecoveryPendingAtLaunch) {
    machine.rootState = true;
    machine.override = true;
    make();
    app->restore();
    EXPECT_TRUE(app->restoring());
    EXPECT_EQ(app->panel()->model().stateText, "Restoring sleep…");
    app->start(600); // busy: nothing
    EXPECT_EQ(privileged.requests.size(), 1u);
    privileged.respond(true);
    EXPECT_FALSE(app->restoring());
    EXPECT_EQ(app->statusLine(), "Ready — normal sleep restored");
    EXPECT_EQ(app->lastOutcome(), "Sleep restored");
    EXPECT_TRUE(notifier.posted.empty());
    EXPECT_EQ(app->finishReason(), "Session ended");
}

TEST_F(Session, FailedRestoreShowsTheHelpersTextAndChangesNothing) {
    make();
    startVerified(3600);
    watcherResponds = false;
    app->stop();
    scheduler.advance(32.0);
    ASSERT_EQ(app->statusLine(), "Restoration needs attention");
    const auto folder = app->sessionFolder();
    app->restore();
    privileged.respond(false, "Could not restore normal sleep. Recovery files were retained.\n");
    EXPECT_EQ(ui.alerts.back(),
              (ShownAlert{"Sleep restoration needs attention",
                          "Could not restore normal sleep. Recovery files were retained.\n"}));
    EXPECT_FALSE(app->restoring());
    EXPECT_TRUE(app->stopping());
    EXPECT_TRUE(app->sessionRunning());
    EXPECT_EQ(app->sessionFolder(), folder);
    EXPECT_EQ(app->statusLine(), "Restoration needs attention");
}

TEST_F(Session, RestoreIsRefusedWhileStartingAndOnlyOneRunsAtATime) {
    make();
    app->start(600);
    app->restore();
    EXPECT_EQ(privileged.requests.size(), 1u);
    privileged.respond(true);
    scheduler.advance(3.0);
    app->restore();
    app->restore();
    EXPECT_EQ(privileged.requests.size(), 2u);
    EXPECT_EQ(app->panel()->model().mainEnabled, false);
    privileged.respond(true);
    EXPECT_FALSE(app->sessionRunning());
    EXPECT_EQ(app->statusItemTitle(), "");
    EXPECT_FALSE(app->sessionFolder());
    EXPECT_TRUE(fs::is_empty(tmp));
}

TEST_F(Session, NothingBeginsWhileARestoreIsInFlight) {
    make();
    ASSERT_TRUE(app->preferences().savePreset("Short", 900));
    app->restore();
    app->start(600);
    app->selectPreset(app->preferences().presets()[0].id.text());
    app->runTask();
    EXPECT_EQ(privileged.requests.size(), 1u);
    EXPECT_EQ(app->panel()->selectedSeconds(), 3600);
    EXPECT_TRUE(ui.dialogs.empty());
    privileged.respond(true);
    app->start(600);
    EXPECT_EQ(privileged.requests.size(), 2u);
}

TEST_F(Session, QuittingDuringARestoreTerminatesWhenItSucceeds) {
    machine.rootState = true;
    make();
    app->restore();
    EXPECT_EQ(app->applicationShouldTerminate(), AppDelegate::TerminateReply::Cancel);
    EXPECT_EQ(ui.terminations, 0);
    privileged.respond(true);
    EXPECT_EQ(ui.terminations, 1);
}

} // namespace
} // namespace vesperon::testing
