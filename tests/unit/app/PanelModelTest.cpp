#include <gtest/gtest.h>

#include "app/DurationText.hpp"
#include "app/PanelModel.hpp"
#include "app/SessionPanel.hpp"
#include "app/StatusLine.hpp"

namespace vesperon {
namespace {

using namespace std::chrono_literals;

std::string fixedTime(std::chrono::system_clock::time_point) {
    return "17:40";
}

PanelOwnerState idleOwner() {
    PanelOwnerState state;
    state.statusLine = StatusLine::ready;
    return state;
}

PanelOwnerState activeOwner(double remaining) {
    PanelOwnerState state;
    state.end = std::chrono::system_clock::time_point(1000s);
    state.remainingSeconds = remaining;
    state.statusLine = StatusLine::active;
    return state;
}

PanelModel derive(const std::optional<PanelOwnerState>& owner, PanelFields fields = {}) {
    return derivePanelModel(owner, fields, fixedTime);
}

TEST(DurationText, ClockRoundsUpToWholeMinutes) {
    EXPECT_EQ(clockText(59), "1m");
    EXPECT_EQ(clockText(60), "1m");
    EXPECT_EQ(clockText(61), "2m");
    EXPECT_EQ(clockText(3599), "1h");
    EXPECT_EQ(clockText(3601), "1h 1m");
    EXPECT_EQ(clockText(5400), "1h 30m");
    EXPECT_EQ(clockText(42420), "11h 47m");
    EXPECT_EQ(clockText(86400), "24h");
    EXPECT_EQ(clockText(300), "5m");
    EXPECT_EQ(clockText(0.2), "1m");
    EXPECT_EQ(clockText(-5), "0m");
    EXPECT_EQ(clockText(0), "0m");
}

TEST(DurationText, StatusItemTitleHasLeadingBlankAndAtLeastOneMinute) {
    EXPECT_EQ(statusItemTitle(45 * 60), " 45m");
    EXPECT_EQ(statusItemTitle(44 * 60 + 10), " 45m");
    EXPECT_EQ(statusItemTitle(120 * 60), " 2h");
    EXPECT_EQ(statusItemTitle(65 * 60), " 1h 5m");
    EXPECT_EQ(statusItemTitle(0), " 1m");
    EXPECT_EQ(statusItemTitle(-30), " 1m");
}

TEST(DurationText, QuickButtonTitles) {
    EXPECT_EQ(quickDurationTitle(300), "5m");
    EXPECT_EQ(quickDurationTitle(1800), "30m");
    EXPECT_EQ(quickDurationTitle(3600), "1h");
    EXPECT_EQ(quickDurationTitle(14400), "4h");
    EXPECT_EQ(quickDurationTitle(86400), "24h");
}

TEST(CustomSeconds, AcceptsOneMinuteToTwentyFourHours) {
    EXPECT_EQ(customSeconds("0", "1"), 60);
    EXPECT_EQ(customSeconds("1", "30"), 5400);
    EXPECT_EQ(customSeconds("24", "0"), 86400);
    EXPECT_EQ(customSeconds("01", "05"), 3900);
    EXPECT_EQ(customSeconds("0", "59"), 3540);
}

TEST(CustomSeconds, RefusesEverythingElse) {
    for (const auto& [hours, minutes] : std::vector<std::pair<std::string, std::string>>{
             {"0", "0"},
             {"24", "1"},
             {"24", "30"},
             {"25", "0"},
             {"1", "60"},
             {"", "5"},
             {"1", ""},
             {" 1", "0"},
             {"1.5", "0"},
             {"-1", "30"},
             {"+1", "0"},
             {"\xd9\xa1", "0"}, // ARABIC-INDIC DIGIT ONE
             {"99999999999999999999999", "0"},
         }) {
        EXPECT_EQ(customSeconds(hours, minutes), std::nullopt) << hours << " / " << minutes;
    }
}

TEST(PanelModel, IdleWithoutOwnerShowsSelectedDurationReadyToStart) {
    const PanelModel model = derive(std::nullopt);
    EXPECT_FALSE(model.active);
    EXPECT_EQ(model.clockText, "1h");
    EXPECT_EQ(model.stateText, "Ready");
    EXPECT_EQ(model.mainTitle, "Start session");
    EXPECT_TRUE(model.mainEnabled);
    EXPECT_EQ(model.mainBezel, ColourRole::Mint);
    EXPECT_TRUE(model.detailHidden);
    EXPECT_FALSE(model.ringShown);
    ASSERT_EQ(model.quickDurations.size(), 5u);
    EXPECT_EQ(model.quickDurations[0].accessibilityLabel, "5-minute test");
    EXPECT_EQ(model.quickDurations[3].accessibilityLabel, "Stay awake for 4h");
    for (const auto& button : model.quickDurations) {
        EXPECT_TRUE(button.enabled);
        EXPECT_FALSE(button.hidden);
        EXPECT_EQ(button.on, button.seconds == 3600);
        EXPECT_EQ(button.bezel, button.on ? ColourRole::Mint : ColourRole::Default);
    }
    EXPECT_EQ(model.taskTitle, "Run command…");
    EXPECT_EQ(model.agentTitle, "Watch agents…");
    EXPECT_TRUE(model.taskEnabled);
    EXPECT_EQ(model.hoursText, "1");
    EXPECT_EQ(model.minutesText, "0");
}

TEST(PanelModel, PreviewStateOfTheRenderer) {
    SessionPanel panel;
    panel.setPreview(42420, 86400);
    const PanelModel model = panel.model(fixedTime);
    EXPECT_EQ(model.clockText, "11h 47m");
    EXPECT_EQ(model.stateText, "Ready to close lid");
    EXPECT_EQ(model.stateColour, ColourRole::Mint);
    EXPECT_EQ(model.mainTitle, "End session");
    EXPECT_EQ(model.detailText, "Ends at 17:40");
    EXPECT_FALSE(model.detailHidden);
    EXPECT_NEAR(model.ringFraction, 42420.0 / 86400.0, 1e-9);
}

TEST(PanelModel, StateLabelFollowsTheOwnersState) {
    PanelOwnerState owner = idleOwner();
    EXPECT_EQ(derive(owner).stateText, "Ready");
    owner.lastOutcome = "Timer ended · sleep restored";
    EXPECT_EQ(derive(owner).stateText, "Timer ended · sleep restored");
    owner.rootStateExists = true;
    EXPECT_EQ(derive(owner).stateText, "Recovery pending");

    owner = idleOwner();
    owner.starting = true;
    EXPECT_EQ(derive(owner).stateText, "Authorizing…");
    owner.end = std::chrono::system_clock::time_point(1000s); // setup answered, verifying
    EXPECT_EQ(derive(owner).stateText, "Authorizing…");
    owner.starting = false;
    owner.statusLine = StatusLine::checking;
    EXPECT_EQ(derive(owner).stateText, "Starting…");
    owner.statusLine = StatusLine::active;
    EXPECT_EQ(derive(owner).stateText, "Ready to close lid");
    owner.taskRunning = true;
    EXPECT_EQ(derive(owner).stateText, "Task running");
    owner.watchingAgents = true;
    EXPECT_EQ(derive(owner).stateText, "Watching agents");
    owner.agentSummary = "Agent working";
    EXPECT_EQ(derive(owner).stateText, "Agent working");
    EXPECT_EQ(derive(owner).stateColour, ColourRole::Secondary);

    owner.stopping = true;
    owner.statusLine = StatusLine::restoring;
    EXPECT_EQ(derive(owner).stateText, "Restoring sleep…");
    owner.statusLine = StatusLine::needsAttention;
    EXPECT_EQ(derive(owner).stateText, "Restoration needs attention");
    owner.stopping = false;
    owner.restoring = true;
    owner.statusLine = StatusLine::restoring;
    EXPECT_EQ(derive(owner).stateText, "Restoring sleep…");
}

TEST(PanelModel, ActiveSessionHidesChoicesAndOffersEnd) {
    PanelOwnerState owner = activeOwner(1800);
    PanelFields fields;
    fields.totalSeconds = 3600;
    const PanelModel model = derive(owner, fields);
    EXPECT_EQ(model.clockText, "30m");
    EXPECT_EQ(model.mainTitle, "End session");
    EXPECT_TRUE(model.mainEnabled);
    EXPECT_EQ(model.mainBezel, ColourRole::Default);
    EXPECT_TRUE(model.customHidden);
    EXPECT_FALSE(model.taskEnabled);
    EXPECT_FALSE(model.agentEnabled);
    for (const auto& button : model.quickDurations) {
        EXPECT_TRUE(button.hidden);
    }
    EXPECT_EQ(model.detailText, "Ends at 17:40");
    EXPECT_DOUBLE_EQ(model.ringFraction, 0.5);

    owner.taskRunning = true;
    EXPECT_EQ(derive(owner).detailText, "Ends when task exits · limit 17:40");
    owner.watchingAgents = true;
    EXPECT_EQ(derive(owner).detailText, "Ends when agents finish · limit 17:40");
}

TEST(PanelModel, RingIsClampedAndSurvivesZeroTotal) {
    PanelFields fields;
    fields.totalSeconds = 100;
    EXPECT_DOUBLE_EQ(derive(activeOwner(250), fields).ringFraction, 1.0);
    EXPECT_DOUBLE_EQ(derive(activeOwner(-3), fields).ringFraction, 0.0);
    fields.totalSeconds = 0;
    EXPECT_DOUBLE_EQ(derive(activeOwner(10), fields).ringFraction, 0.0);
    PanelOwnerState noRemaining = activeOwner(0);
    noRemaining.remainingSeconds.reset();
    EXPECT_DOUBLE_EQ(derive(noRemaining, PanelFields{}).ringFraction, 0.0);
}

TEST(PanelModel, PendingRecoveryBlocksStartingButNotRestoring) {
    PanelOwnerState owner = idleOwner();
    owner.rootStateExists = true;
    owner.statusLine = StatusLine::recoveryPending;
    const PanelModel model = derive(owner);
    EXPECT_EQ(model.stateText, "Recovery pending");
    EXPECT_FALSE(model.mainEnabled);
    for (const auto& button : model.quickDurations) {
        EXPECT_FALSE(button.enabled);
    }
}

TEST(PanelModel, StopRequestFailureOffersRestore) {
    PanelOwnerState owner = activeOwner(100);
    owner.stopping = true;
    owner.statusLine = StatusLine::stopRequestFailed;
    const PanelModel model = derive(owner);
    EXPECT_TRUE(model.attention);
    EXPECT_EQ(model.mainTitle, "Restore sleep");
    EXPECT_TRUE(model.mainEnabled);
    EXPECT_EQ(model.stateText, "Restoration needs attention");
    // ...but not while the restore it asked for is under way.
    owner.restoring = true;
    EXPECT_FALSE(derive(owner).mainEnabled);
}

TEST(PanelModel, BusyDisablesEverything) {
    PanelOwnerState owner = idleOwner();
    owner.starting = true;
    const PanelModel model = derive(owner);
    EXPECT_FALSE(model.mainEnabled);
    EXPECT_FALSE(model.inputsEnabled);
    EXPECT_TRUE(model.customHidden);
    EXPECT_FALSE(model.detailHidden);
    for (const auto& button : model.quickDurations) {
        EXPECT_FALSE(button.enabled);
        EXPECT_TRUE(button.hidden);
    }
    owner.starting = false;
    owner.stopping = true;
    EXPECT_FALSE(derive(owner).mainEnabled);
}

// A panel owner that records what the panel asks of it.
class RecordingOwner final : public PanelOwner {
  public:
    PanelOwnerState state = idleOwner();
    std::vector<std::string> calls;
    std::optional<int> lastDuration;
    std::string reason;

    PanelOwnerState panelState() const override { return state; }
    void storeLastDuration(int seconds) override { lastDuration = seconds; }
    void setFinishReason(std::string_view text) override { reason = text; }
    void start(int seconds) override { calls.push_back("start " + std::to_string(seconds)); }
    void stop() override { calls.push_back("stop"); }
    void restore() override { calls.push_back("restore"); }
    void runTask() override { calls.push_back("runTask"); }
    void watchAgents() override { calls.push_back("watchAgents"); }
};

TEST(SessionPanel, TypingACustomDurationSelectsAndStoresIt) {
    RecordingOwner owner;
    SessionPanel panel(&owner);
    panel.customTextChanged("1", "30");
    EXPECT_EQ(panel.selectedSeconds(), 5400);
    EXPECT_EQ(owner.lastDuration, 5400);
    const PanelModel model = panel.model(fixedTime);
    for (const auto& button : model.quickDurations) {
        EXPECT_FALSE(button.on);
    }
    EXPECT_EQ(model.hoursText, "1");
    EXPECT_EQ(model.minutesText, "30");
}

TEST(SessionPanel, InvalidCustomEntryStartsNothingUntilAQuickDurationIsChosen) {
    RecordingOwner owner;
    SessionPanel panel(&owner);
    panel.customTextChanged("24", "30");
    EXPECT_FALSE(panel.customValid());
    PanelModel model = panel.model(fixedTime);
    EXPECT_EQ(model.customError, "Choose 1 minute to 24 hours.");
    EXPECT_FALSE(model.mainEnabled);
    EXPECT_FALSE(model.taskEnabled);
    EXPECT_FALSE(model.agentEnabled);
    EXPECT_FALSE(model.hoursText.has_value()); // the user's text is left alone
    panel.mainAction();
    panel.taskAction();
    panel.agentAction();
    EXPECT_TRUE(owner.calls.empty());
    EXPECT_EQ(owner.lastDuration, std::nullopt);

    panel.selectDuration(1800);
    model = panel.model(fixedTime);
    EXPECT_TRUE(model.customError.empty());
    EXPECT_TRUE(model.mainEnabled);
    EXPECT_EQ(owner.lastDuration, 1800);
    panel.mainAction();
    EXPECT_EQ(owner.calls, std::vector<std::string>{"start 1800"});
    EXPECT_DOUBLE_EQ(panel.fields().totalSeconds, 1800);
}

TEST(SessionPanel, MainActionEndsARunningSessionManuallyEvenWithAnInvalidEntry) {
    RecordingOwner owner;
    owner.state = activeOwner(600);
    SessionPanel panel(&owner);
    panel.customTextChanged("", "");
    panel.mainAction();
    EXPECT_EQ(owner.reason, "Ended manually");
    EXPECT_EQ(owner.calls, std::vector<std::string>{"stop"});
}

TEST(SessionPanel, MainActionRestoresUnderAttention) {
    RecordingOwner owner;
    owner.state = activeOwner(600);
    owner.state.stopping = true;
    owner.state.statusLine = StatusLine::needsAttention;
    SessionPanel panel(&owner);
    panel.mainAction();
    EXPECT_EQ(owner.calls, std::vector<std::string>{"restore"});
    EXPECT_TRUE(owner.reason.empty());
}

TEST(SessionPanel, WithoutOwnerChoicesStillUpdateTheView) {
    SessionPanel panel;
    panel.selectDuration(14400);
    EXPECT_EQ(panel.model(fixedTime).clockText, "4h");
    panel.customTextChanged("0", "0");
    EXPECT_FALSE(panel.customValid());
    panel.mainAction(); // nothing to call, nothing to crash
}

} // namespace
} // namespace vesperon
