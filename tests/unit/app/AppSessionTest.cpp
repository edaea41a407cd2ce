// Launch, start, monitoring, ending, quitting and restore of the session controller.
#include "AppScenario.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace vesperon::testing {
namespace {

using Session = AppScenario;

void ageHeartbeat(const std::string& path) {
    const timespec old[2] = {{0, UTIME_OMIT}, {1000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
}
bool heartbeatRenewed(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && info.st_mtim.tv_sec > 1000;
}

TEST_F(Session, StartIsRefusedOutsideOneMinuteToADayOnBatteryHeatOrPendingRecovery) {
    machine.rootState = true;
    make();
    EXPECT_EQ(app->statusLine(), "Recovery pending — use Restore normal sleep");
    EXPECT_FALSE(app->panel()->model().mainEnabled);
    app->start(3600);
    machine.rootState = false; // the earlier run's watcher cleans up by itself
    for (int seconds : {59, 86401, 0}) {
        app->start(seconds); // silently nothing
    }
    machine.battery = false;
    app->start(600);
    machine.battery = true;
    machine.thermal = 2;
    app->start(600);
    EXPECT_EQ(ui.alerts, (std::vector<ShownAlert>{
                             {"A session needs attention",
                              "Restore normal sleep before starting another session."},
                             {"Session cannot start",
                              "Connect power or charge above 15%, and let the Mac cool down."},
                             {"Session cannot start",
                              "Connect power or charge above 15%, and let the Mac cool down."}}));
    EXPECT_TRUE(privileged.requests.empty());
    EXPECT_TRUE(fs::is_empty(tmp));
    const int reads = machine.overrideReads;
    scheduler.advance(10.0);
    EXPECT_EQ(machine.overrideReads, reads); // an idle tick probes nothing

    machine.thermal = 1; // fair is fine
    app->start(60);
    app->start(86400); // busy now: no second prompt
    EXPECT_EQ(privileged.requests.size(), 1u);
}

TEST_F(Session, TimedSessionRunsFromPromptToSleepRestoredAtTheExactEnd) {
    make();
    ASSERT_TRUE(app->preferences().setSessionAlertsEnabled(true));
    app->start(60);
    const std::string folder = *app->sessionFolder();
    EXPECT_EQ(privileged.requests.at(0),
              (std::vector<std::string>{"--setup", "4242", "60", folder + "/heartbeat",
                                        folder + "/stop"}));
    EXPECT_EQ(fs::path(folder).parent_path(), fs::path(tmp));
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(app->statusLine(), "Waiting for macOS authorization…");
    EXPECT_EQ(app->preferences().lastDuration(), 60);

    privileged.respond(true);
    EXPECT_EQ(app->statusLine(), "Starting — checking sleep setting…");
    scheduler.advance(2.9);
    EXPECT_TRUE(app->starting());
    scheduler.advance(0.1);
    EXPECT_EQ(app->statusLine(), "Active — ready to close lid");
    EXPECT_EQ(app->statusItemTitle(), " 1m");
    EXPECT_EQ(app->panel()->model().mainTitle, "End session");
    ageHeartbeat(folder + "/heartbeat");
    scheduler.advance(2.0);
    EXPECT_TRUE(heartbeatRenewed(folder + "/heartbeat"));

    scheduler.advance(54.9);
    EXPECT_FALSE(app->stopping());
    scheduler.advance(0.1); // t = 60: no time left
    EXPECT_EQ(app->finishReason(), "Timer ended");
    EXPECT_TRUE(sawStatus("Restoring normal sleep…"));
    scheduler.advance(2.0); // the watcher has restored; the tick sees it
    EXPECT_EQ(app->statusLine(), "Ready — normal sleep restored");
    EXPECT_EQ(app->lastOutcome(), "Timer ended · sleep restored");
    EXPECT_EQ(app->panel()->model().stateText, "Timer ended · sleep restored");
    EXPECT_EQ(app->finishReason(), "Session ended");
    EXPECT_EQ(app->statusItemTitle(), "");
    EXPECT_TRUE(fs::is_empty(tmp));
    EXPECT_EQ(notifier.posted, std::vector<std::string>{"Timer ended"});
}

TEST_F(Session, FailedStartsLeaveNothingOrEndThroughTheWatcher) {
    make();
    app->start(600);
    const std::string folder = *app->sessionFolder();
    privileged.respond(false, "execution error: User canceled. (-128)\n");
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_FALSE(app->sessionRunning());
    EXPECT_EQ(app->statusLine(), "Session not started");

    app->start(600);
    machine.rootState = true; // the helper got far enough to leave state behind
    privileged.respond(false, "Setup failed\n");
    EXPECT_TRUE(app->stopping());
    EXPECT_TRUE(fs::exists(*app->sessionFolder() + "/stop"));
    EXPECT_EQ(ui.alerts, (std::vector<ShownAlert>{
                             {"Session not started", "execution error: User canceled. (-128)\n"},
                             {"Session not started", "Setup failed\n"}}));
    machine.rootState = false;
    scheduler.advance(2.0);
    EXPECT_EQ(app->lastOutcome(), "Session ended · sleep restored");

    // Verification needs both the override and the root state, and ends only on a
    // definite off.
    app->start(600);
    privileged.onSuccess = [this](const std::vector<std::string>&) { machine.override = true; };
    privileged.respond(true);
    scheduler.advance(3.0);
    EXPECT_EQ(app->finishReason(), "Start could not be verified");
    EXPECT_EQ(ui.alerts.back().title, "Session did not start");
    machine.override = std::nullopt;
    scheduler.advance(4.0);
    EXPECT_TRUE(app->sessionRunning());
    machine.override = false;
    scheduler.advance(2.0);
    EXPECT_EQ(app->lastOutcome(), "Start could not be verified · sleep restored");
    EXPECT_FALSE(sawStatus("Active — ready to close lid"));
}

// Protection at t = 59 of a one-minute session meets the time being up at the tick of
// t = 60: the more urgent reason wins. Other causes come at t = 5.
TEST_F(Session, OneTickEndsTheSessionWithTheMostUrgentReasonAndOneNotification) {
    const std::vector<std::tuple<double, std::function<void()>, std::string>> rows{
        {59, [&] { machine.battery = false; }, "Battery protection"},
        {59, [&] { machine.battery = false, machine.thermal = 3; }, "Heat protection"},
        {5, [&] { sleepBack(); }, "Protection ended session"},
        {5, [&] { machine.override = std::nullopt; }, "Protection ended session"}};
    for (const auto& [at, cause, outcome] : rows) {
        SCOPED_TRACE(outcome);
        machine.battery = true, machine.thermal = 0;
        notifier.posted.clear();
        make();
        ASSERT_TRUE(app->preferences().setSessionAlertsEnabled(true));
        startVerified(60);
        scheduler.advance(at - 3.0);
        cause();
        scheduler.advance(5.0);
        EXPECT_EQ(app->lastOutcome(), outcome + " · sleep restored");
        EXPECT_EQ(notifier.posted, std::vector<std::string>{outcome});
    }
}

TEST_F(Session, StalledRestoreNeedsAttentionAndFailedRestoreChangesNothing) {
    make();
    startVerified(3600);
    watcherResponds = false;
    app->setFinishReason("Ended manually");
    app->stop();
    scheduler.advance(20.0);
    app->stop(); // keeps the first stop time
    scheduler.advance(10.0);
    EXPECT_EQ(app->statusLine(), "Restoring normal sleep…");
    scheduler.advance(2.0);
    EXPECT_EQ(app->statusLine(), "Restoration needs attention");
    EXPECT_EQ(app->lastOutcome(), "Use Restore normal sleep");
    EXPECT_EQ(app->panel()->model().mainTitle, "Restore sleep");

    const auto folder = app->sessionFolder();
    app->restore();
    app->restore(); // one at a time
    EXPECT_EQ(privileged.requests.size(), 2u);
    privileged.respond(false, "Could not restore normal sleep.\n");
    EXPECT_EQ(ui.alerts.back(), (ShownAlert{"Sleep restoration needs attention",
                                            "Could not restore normal sleep.\n"}));
    EXPECT_TRUE(app->stopping());
    EXPECT_EQ(app->sessionFolder(), folder);
    EXPECT_EQ(app->statusLine(), "Restoration needs attention");
    // Normal sleep comes back late: the session ends by itself.
    watcherResponds = true;
    scheduler.advance(4.0);
    EXPECT_EQ(app->statusLine(), "Ready — normal sleep restored");
    EXPECT_EQ(app->lastOutcome(), "Ended manually · sleep restored");
}

TEST_F(Session, LostSessionFolderIsEndedThroughTheRestore) {
    make();
    startVerified(3600);
    fs::remove_all(*app->sessionFolder());
    scheduler.advance(2.0);
    EXPECT_EQ(app->finishReason(), "Session connection lost");
    EXPECT_EQ(app->statusLine(), "Stop request failed — use Restore normal sleep");
    app->panel()->mainAction();
    ASSERT_EQ(privileged.requests.back(), std::vector<std::string>{"--restore"});
    privileged.respond(true);
    EXPECT_EQ(app->lastOutcome(), "Sleep restored");
    EXPECT_FALSE(app->sessionRunning());
    EXPECT_TRUE(notifier.posted.empty()); // session alerts are off
}

TEST_F(Session, CountdownFollowsTheSleepCountingClockNotTheWallClockNorAlerts) {
    make();
    startVerified(3600);
    machine.wallShift = 7200; // the user sets the clock two hours ahead
    machine.sleptSeconds = 1800;
    scheduler.advance(2.0);
    EXPECT_NEAR(*app->remainingSeconds(), 3600 - 1800 - 5, 0.01);
    EXPECT_NEAR(std::chrono::duration<double>(*app->end() - machine.now()).count(),
                *app->remainingSeconds(), 0.01);
    EXPECT_EQ(app->statusItemTitle(), " 30m");

    // An alert is modal; the heartbeat and the countdown go on under it.
    const std::string heartbeat = *app->sessionFolder() + "/heartbeat";
    ageHeartbeat(heartbeat);
    ui.duringAlert = [this] { scheduler.advance(10.0); };
    ui.answer(0, "   "); // a blank preset name
    app->savePreset();
    ASSERT_EQ(ui.alerts.back().title, "Preset could not be saved");
    EXPECT_TRUE(heartbeatRenewed(heartbeat));
    EXPECT_NEAR(*app->remainingSeconds(), 3600 - 1800 - 15, 0.01);

    machine.wallShift = -86400;
    scheduler.advance(1780.0); // t = 1795
    EXPECT_FALSE(app->stopping());
    scheduler.advance(6.0);
    EXPECT_EQ(app->finishReason(), "Timer ended");
}

TEST_F(Session, StopDuringVerificationNeverReportsActiveNorLaunchesTheTask) {
    make();
    ui.answer(0, "touch " + home + "/ran");
    app->runTask();
    privileged.respond(true);
    scheduler.advance(1.0);
    app->stop();
    EXPECT_FALSE(app->pendingCommand());
    scheduler.advance(6.0);
    EXPECT_FALSE(sawStatus("Active — ready to close lid"));
    EXPECT_FALSE(app->taskRunner().isRunning());
    EXPECT_FALSE(fs::exists(home + "/ran"));
    EXPECT_EQ(app->lastOutcome(), "Session ended · sleep restored");
}

TEST_F(Session, RestoreAtLaunchBlocksEverythingUntilItIsAnswered) {
    machine.rootState = true;
    machine.override = true;
    make();
    ASSERT_TRUE(app->preferences().savePreset("Short", 900));
    app->restore();
    EXPECT_EQ(app->panel()->model().stateText, "Restoring sleep…");
    app->start(600);
    app->selectPreset(app->preferences().presets()[0].id.text());
    app->runTask();
    hotKey.press();
    scheduler.drain();
    EXPECT_EQ(privileged.requests.size(), 1u);
    EXPECT_EQ(app->panel()->selectedSeconds(), 3600);
    EXPECT_TRUE(ui.dialogs.empty());
    EXPECT_EQ(app->finishReason(), "Session ended");
    privileged.respond(true);
    EXPECT_EQ(app->statusLine(), "Ready — normal sleep restored");
    EXPECT_EQ(app->lastOutcome(), "Sleep restored");
    app->start(600);
    EXPECT_EQ(privileged.requests.size(), 2u);
}

TEST_F(Session, QuittingTerminatesOnlyOnceSleepIsBack) {
    make();
    EXPECT_EQ(app->applicationShouldTerminate(), AppDelegate::TerminateReply::Now);
    const std::vector<std::pair<std::function<void()>, std::function<void()>>> rows{
        {[&] { app->start(600); }, [&] { privileged.respond(false, "canceled"); }},
        {[&] { app->start(600), privileged.respond(true); },
         [&] {
             scheduler.advance(4.0);
             EXPECT_FALSE(sawStatus("Active — ready to close lid"));
         }},
        {[&] { startVerified(), watcherResponds = false; },
         [&] {
             scheduler.advance(10.0);
             EXPECT_EQ(ui.terminations, 0);
             watcherResponds = true;
             scheduler.advance(4.0);
         }},
        {[&] { app->restore(); }, [&] { privileged.respond(true); }}};
    for (const auto& [begin, finish] : rows) {
        make();
        ui.terminations = 0;
        statuses.clear();
        begin();
        EXPECT_EQ(app->applicationShouldTerminate(), AppDelegate::TerminateReply::Cancel);
        scheduler.advance(3.0);
        EXPECT_EQ(ui.terminations, 0);
        finish();
        EXPECT_EQ(ui.terminations, 1);
        EXPECT_TRUE(fs::is_empty(tmp));
    }
}

} // namespace
} // namespace vesperon::testing
