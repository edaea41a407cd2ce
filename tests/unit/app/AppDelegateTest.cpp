#include "AppScenario.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace vesperon::testing {
namespace {

using Session = AppScenario;

TEST_F(Session, StartIsRefusedOutsideOneMinuteToADayOnBatteryOrHeat) {
    make();
    for (int seconds : {59, 86401, 0}) {
        app->start(seconds); // silently nothing
    }
    machine.battery = false;
    app->start(600);
    machine.battery = true, machine.thermal = 2;
    app->start(600);
    EXPECT_EQ(ui.alerts,
              (std::vector<std::string>{"Session cannot start", "Session cannot start"}));
    EXPECT_TRUE(privileged.requests.empty() && fs::is_empty(tmp));
    machine.thermal = 1; // fair is fine
    app->start(60);
    app->start(86400); // busy now: no second prompt
    EXPECT_EQ(privileged.requests.size(), 1u);
}

TEST_F(Session, TimedSessionRunsFromPromptToSleepRestoredAtTheExactEnd) {
    make();
    app->start(60);
    const std::string folder = *app->sessionFolder(), heartbeat = folder + "/heartbeat";
    EXPECT_EQ(privileged.requests.at(0),
              (std::vector<std::string>{"--setup", "4242", "60", heartbeat, folder + "/stop"}));

    privileged.respond(true);
    scheduler.advance(3.0);
    EXPECT_EQ(app->statusLine(), "Active — ready to close lid");
    EXPECT_EQ(app->statusItemTitle(), " 1m");
    const timespec aged[2] = {{0, UTIME_OMIT}, {1000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, heartbeat.c_str(), aged, 0), 0);
    scheduler.advance(2.0);
    struct stat info {};
    EXPECT_TRUE(::stat(heartbeat.c_str(), &info) == 0 && info.st_mtim.tv_sec > 1000); // renewed

    scheduler.advance(54.9);
    EXPECT_FALSE(app->stopping());
    scheduler.advance(0.1); // t = 60: no time left
    EXPECT_EQ(app->finishReason(), "Timer ended");
    scheduler.advance(2.0); // the watcher has restored; the tick sees it
    EXPECT_EQ(app->lastOutcome(), "Timer ended · sleep restored");
    EXPECT_TRUE(fs::is_empty(tmp));
    EXPECT_EQ(notifier.posted, std::vector<std::string>{"Timer ended"});
}

// On this machine's own clocks, with the scheduler moved in step with real time: an
// hour's session of which the Mac slept all but 5 seconds, with the wall clock moved
// about, runs out after those 5 real seconds.
TEST_F(Session, CountdownRunsOnTheRealSleepCountingClockNotTheWallClock) {
    machine.realClocks = true;
    make();
    startVerified(3600);
    machine.sleptSeconds = 1800;
    machine.wallShift = 7200; // the user sets the clock two hours ahead
    scheduler.advance(2.0);
    EXPECT_EQ(app->statusItemTitle(), " 30m");
    machine.sleptSeconds = 3595;
    machine.wallShift = -86400;
    EXPECT_NEAR(*app->remainingSeconds(), 5, 1.0);
    const auto from = std::chrono::steady_clock::now();
    ASSERT_TRUE(runUntil([&] { return !app->sessionRunning(); }, 60.0));
    EXPECT_GE(std::chrono::steady_clock::now() - from, std::chrono::seconds(4));
    EXPECT_EQ(app->lastOutcome(), "Timer ended · sleep restored");
}

// Protection at t = 59 of a one-minute session meets the time being up at the tick of
// t = 60: the more urgent reason wins. Other causes come at t = 5.
TEST_F(Session, EveryEndNamesItsReasonOnceWithTheMostUrgentFirst) {
    const std::vector<std::tuple<double, std::function<void()>, std::string>> rows{
        {59, [&] { machine.battery = false; }, "Battery protection"},
        {59, [&] { machine.battery = false, machine.thermal = 3; }, "Heat protection"},
        {5, [&] { sleepBack(); }, "Protection ended session"},
        {5, [&] { app->panel()->mainAction(); }, "Ended manually"},
        {5, [&] { app->toggleAutomation(), app->quit(); }, "Session ended"}};
    for (const auto& [at, cause, outcome] : rows) {
        SCOPED_TRACE(outcome);
        machine.battery = true, machine.thermal = 0;
        notifier.posted.clear();
        make();
        startVerified(60);
        scheduler.advance(at - 3.0);
        cause();
        scheduler.advance(5.0);
        EXPECT_EQ(app->lastOutcome(), outcome + " · sleep restored");
        EXPECT_EQ(notifier.posted, std::vector<std::string>{outcome});
    }
}

// The end shows within a quarter second of the watcher's restore, not at the next tick;
// a stalled one needs attention.
TEST_F(Session, TheEndShowsAsSoonAsSleepIsBackOrAsksForARestoreWhenLate) {
    make();
    startVerified(3600);
    scheduler.advance(0.5); // the next tick is 1.5 s away
    watcherResponds = false;
    const std::size_t timers = scheduler.pendingTimers();
    app->setFinishReason(FinishReason::EndedManually);
    app->stop();
    scheduler.advance(0.4);
    machine.override = false; // the watcher restores: the override goes off first,
    scheduler.advance(0.3);
    EXPECT_TRUE(app->stopping()); // and the root state only after it
    machine.rootState = false;
    scheduler.advance(0.25);
    EXPECT_EQ(app->statusLine(), "Ready — normal sleep restored");
    EXPECT_EQ(notifier.posted, std::vector<std::string>{"Ended manually"});
    EXPECT_EQ(scheduler.pendingTimers(), timers); // the look between the ticks stops

    startVerified(3600);
    app->setFinishReason(FinishReason::EndedManually);
    app->stop();
    scheduler.advance(20.0);
    app->stop(); // keeps the first stop time
    scheduler.advance(10.0);
    EXPECT_EQ(app->statusLine(), "Restoring normal sleep…");
    scheduler.advance(2.0);
    EXPECT_EQ(app->statusLine(), "Restoration needs attention");
    EXPECT_EQ(app->lastOutcome(), "Use Restore normal sleep");
    EXPECT_EQ(app->panel()->model().mainTitle, "Restore sleep");

    watcherResponds = true; // normal sleep comes back late: the session ends by itself
    scheduler.advance(4.0);
    EXPECT_EQ(app->lastOutcome(), "Ended manually · sleep restored");
    EXPECT_EQ(notifier.posted.size(), 2u);
}

TEST_F(Session, QuittingAndStartingWaitUntilSleepIsBack) {
    make();
    EXPECT_EQ(app->applicationShouldTerminate(), AppDelegate::TerminateReply::Now);
    const std::vector<std::pair<std::function<void()>, std::function<void()>>> rows{
        {[&] { startVerified(), watcherResponds = false; },
         [&] {
             scheduler.advance(10.0);
             EXPECT_EQ(ui.terminations, 0);
             watcherResponds = true;
             scheduler.advance(4.0);
         }},
        {[&] { app->restore(); },
         [&] {
             app->start(600), app->runTask(), hotKey.press(), scheduler.drain();
             EXPECT_EQ(privileged.pending.size(), 1u); // nothing starts during a restore
             EXPECT_TRUE(ui.dialogs.empty());
             privileged.respond(true);
             EXPECT_EQ(app->lastOutcome(), "Sleep restored");
         }}};
    for (const auto& [begin, finish] : rows) {
        make();
        ui.terminations = 0, ui.dialogs.clear();
        begin();
        EXPECT_EQ(app->applicationShouldTerminate(), AppDelegate::TerminateReply::Cancel);
        scheduler.advance(2.9);
        EXPECT_EQ(ui.terminations, 0);
        finish();
        EXPECT_EQ(ui.terminations, 1);
        EXPECT_TRUE(fs::is_empty(tmp));
    }
}

using Commands = AppScenario;

TEST_F(Commands, ShortcutTogglesTheSelectedDurationOnTheMainQueue) {
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
