#include <gtest/gtest.h>

#include "app/DurationText.hpp"
#include "app/PanelModel.hpp"
#include "app/SessionPanel.hpp"
#include "app/StatusLine.hpp"

// Owner states are written with designated initializers that leave the rest default.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace vesperon {
namespace {

using namespace std::chrono_literals;

std::string fixedTime(std::chrono::system_clock::time_point) {
    return "17:40";
}

PanelOwnerState owner(std::string_view statusLine, std::optional<double> remaining = {}) {
    return PanelOwnerState{.end = remaining
                                      ? std::optional(std::chrono::system_clock::time_point(1000s))
                                      : std::nullopt,
                           .remainingSeconds = remaining,
                           .statusLine = std::string(statusLine)};
}

PanelModel derive(const PanelOwnerState& state, double totalSeconds = 3600) {
    PanelFields fields;
    fields.totalSeconds = totalSeconds;
    return derivePanelModel(state, fields, fixedTime);
}

TEST(DurationText, RoundsUpToWholeMinutes) {
    const std::vector<std::tuple<std::string, std::string>> rows{
        {clockText(59), "1m"},
        {clockText(61), "2m"},
        {clockText(3599), "1h"},
        {clockText(3601), "1h 1m"},
        {clockText(42420), "11h 47m"},
        {clockText(86400), "24h"},
        {clockText(0.2), "1m"},
        {clockText(-5), "0m"},
        {statusItemTitle(44 * 60 + 10), " 45m"},
        {statusItemTitle(65 * 60), " 1h 5m"},
        {statusItemTitle(-30), " 1m"},
        {quickDurationTitle(14400), "4h"}};
    for (const auto& [got, expected] : rows) {
        EXPECT_EQ(got, expected);
    }
}

TEST(CustomSeconds, AcceptsOneMinuteToTwentyFourHoursOfPlainDigits) {
    const std::vector<std::tuple<std::string, std::string, std::optional<int>>> rows{
        {"0", "1", 60},
        {"01", "05", 3900},
        {"24", "0", 86400},
        {"0", "0", std::nullopt},
        {"24", "1", std::nullopt},
        {"25", "0", std::nullopt},
        {"1", "60", std::nullopt},
        {"", "5", std::nullopt},
        {" 1", "0", std::nullopt},
        {"-1", "30", std::nullopt},
        {"+1", "0", std::nullopt},
        {"1.5", "0", std::nullopt},
        {"\xd9\xa1", "0", std::nullopt}, // ARABIC-INDIC DIGIT ONE
        {"99999999999999999999999", "0", std::nullopt}};
    for (const auto& [hours, minutes, seconds] : rows) {
        EXPECT_EQ(customSeconds(hours, minutes), seconds) << hours << " / " << minutes;
    }
}

TEST(PanelModel, StateLabelAndButtonsFollowTheOwner) {
    using S = PanelOwnerState;
    const auto at = std::chrono::system_clock::time_point(1000s);
    const std::string active(StatusLine::active), attention(StatusLine::needsAttention);
    const std::vector<std::tuple<PanelOwnerState, std::string, std::string, bool>> rows{
        {S{.statusLine = std::string(StatusLine::ready)}, "Ready", "Start session", true},
        {S{.lastOutcome = "Timer ended"}, "Timer ended", "Start session", true},
        {S{.rootStateExists = true}, "Recovery pending", "Start session", false},
        {S{.starting = true}, "Authorizing…", "Start session", false},
        {S{.end = at, .starting = true}, "Authorizing…", "End session", false},
        {S{.end = at, .statusLine = std::string(StatusLine::checking)}, "Starting…", "End session",
         true},
        {S{.end = at, .statusLine = active}, "Ready to close lid", "End session", true},
        {S{.end = at, .taskRunning = true, .statusLine = active}, "Task running", "End session",
         true},
        {S{.end = at, .watchingAgents = true, .statusLine = active}, "Watching agents",
         "End session", true},
        {S{.end = at,
           .watchingAgents = true,
           .agentSummary = "Agent working",
           .statusLine = active},
         "Agent working", "End session", true},
        {S{.end = at, .stopping = true, .statusLine = std::string(StatusLine::restoring)},
         "Restoring sleep…", "End session", false},
        {S{.end = at, .stopping = true, .statusLine = attention}, "Restoration needs attention",
         "Restore sleep", true},
        {S{.end = at, .stopping = true, .statusLine = std::string(StatusLine::stopRequestFailed)},
         "Restoration needs attention", "Restore sleep", true},
        {S{.end = at, .stopping = true, .restoring = true, .statusLine = attention},
         "Restoration needs attention", "Restore sleep", false},
        {S{.restoring = true, .statusLine = std::string(StatusLine::restoring)}, "Restoring sleep…",
         "Start session", false}};
    for (const auto& [state, stateText, mainTitle, mainEnabled] : rows) {
        SCOPED_TRACE(stateText + " / " + state.statusLine);
        const PanelModel model = derive(state);
        EXPECT_EQ(model.stateText, stateText);
        EXPECT_EQ(model.mainTitle, mainTitle);
        EXPECT_EQ(model.mainEnabled, mainEnabled);
        const bool busy = state.starting || state.stopping || state.restoring;
        for (const auto& button : model.quickDurations) {
            EXPECT_EQ(button.hidden, busy || state.end);
            EXPECT_EQ(button.enabled, !busy && !state.rootStateExists);
        }
        EXPECT_EQ(model.taskEnabled, !busy && !state.end);
    }
}

TEST(PanelModel, ActiveSessionShowsItsEndAndRing) {
    PanelOwnerState state = owner(StatusLine::active, 1800);
    const PanelModel model = derive(state);
    EXPECT_EQ(model.clockText, "30m");
    EXPECT_TRUE(model.customHidden);
    EXPECT_EQ(model.detailText, "Ends at 17:40");
    EXPECT_DOUBLE_EQ(model.ringFraction, 0.5);
    state.taskRunning = true;
    EXPECT_EQ(derive(state).detailText, "Ends when task exits · limit 17:40");
    state.watchingAgents = true;
    EXPECT_EQ(derive(state).detailText, "Ends when agents finish · limit 17:40");
    for (const auto& [remaining, total, ring] : std::vector<std::tuple<double, double, double>>{
             {250, 100, 1.0}, {-3, 100, 0.0}, {10, 0, 0.0}}) {
        EXPECT_DOUBLE_EQ(derive(owner(StatusLine::active, remaining), total).ringFraction, ring);
    }
}

// A panel owner that records what the panel asks of it.
class RecordingOwner final : public PanelOwner {
  public:
    PanelOwnerState state = owner(StatusLine::ready);
    std::vector<std::string> calls;
    std::optional<int> lastDuration;

    PanelOwnerState panelState() const override { return state; }
    void storeLastDuration(int seconds) override { lastDuration = seconds; }
    void setFinishReason(std::string_view text) override { calls.push_back(std::string(text)); }
    void start(int seconds) override { calls.push_back("start " + std::to_string(seconds)); }
    void stop() override { calls.push_back("stop"); }
    void restore() override { calls.push_back("restore"); }
    void runTask() override { calls.push_back("runTask"); }
    void watchAgents() override { calls.push_back("watchAgents"); }
};

TEST(SessionPanel, InvalidCustomEntryStartsNothingUntilAValidOneIsChosen) {
    RecordingOwner recorder;
    SessionPanel panel(&recorder);
    panel.customTextChanged("24", "30");
    PanelModel model = panel.model(fixedTime);
    EXPECT_EQ(model.customError, "Choose 1 minute to 24 hours.");
    EXPECT_FALSE(model.mainEnabled || model.taskEnabled || model.agentEnabled);
    EXPECT_FALSE(model.hoursText.has_value()); // the user's text is left alone
    panel.mainAction();
    panel.taskAction();
    panel.agentAction();
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_EQ(recorder.lastDuration, std::nullopt);

    panel.customTextChanged("1", "30");
    model = panel.model(fixedTime);
    EXPECT_EQ(recorder.lastDuration, 5400);
    EXPECT_EQ(model.minutesText, "30");
    for (const auto& button : model.quickDurations) {
        EXPECT_FALSE(button.on);
    }
    panel.selectDuration(1800);
    panel.mainAction();
    panel.taskAction();
    panel.agentAction();
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"start 1800", "runTask", "watchAgents"}));
    EXPECT_DOUBLE_EQ(panel.fields().totalSeconds, 1800);
}

TEST(SessionPanel, MainActionEndsManuallyOrRestoresUnderAttention) {
    RecordingOwner recorder;
    recorder.state = owner(StatusLine::active, 600);
    SessionPanel panel(&recorder);
    panel.customTextChanged("", ""); // an invalid entry does not block ending
    panel.mainAction();
    recorder.state.stopping = true;
    recorder.state.statusLine = StatusLine::needsAttention;
    panel.mainAction();
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"Ended manually", "stop", "restore"}));
}

} // namespace
} // namespace vesperon
