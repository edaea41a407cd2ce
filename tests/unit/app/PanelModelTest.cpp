// What the panel shows, derived from the controller's state; the widgets that show it
// are tested with the views.
#include <gtest/gtest.h>

#include "app/PanelModel.hpp"
#include "app/StatusLine.hpp"

// Owner states are written with designated initializers that leave the rest default.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace vesperon {
namespace {

using S = PanelOwnerState;
const auto at = std::chrono::system_clock::time_point(std::chrono::seconds(1000));

PanelModel derive(const S& state, double totalSeconds = 3600) {
    PanelFields fields;
    fields.totalSeconds = totalSeconds;
    return derivePanelModel(state, fields, [](auto) { return std::string("17:40"); });
}

TEST(CustomSeconds, AcceptsOneMinuteToTwentyFourHoursOfPlainDigits) {
    const std::vector<std::tuple<std::string, std::string, std::optional<int>>> rows{
        {"0", "1", 60},
        {"01", "05", 3900},
        {"24", "0", 86400},
        {"0", "0", std::nullopt},
        {"24", "1", std::nullopt},
        {"1", "60", std::nullopt},
        {"", "5", std::nullopt},
        {" 1", "0", std::nullopt},
        {"+1", "0", std::nullopt},
        {"\xd9\xa1", "0", std::nullopt}, // ARABIC-INDIC DIGIT ONE
        {"99999999999999999999999", "0", std::nullopt}};
    for (const auto& [hours, minutes, seconds] : rows) {
        EXPECT_EQ(customSeconds(hours, minutes), seconds) << hours << " / " << minutes;
    }
}

TEST(PanelModel, StateLabelAndButtonsFollowTheOwner) {
    const std::string active(StatusLine::active), attention(StatusLine::needsAttention);
    const std::string restoring(StatusLine::restoring);
    const std::vector<std::tuple<S, std::string, std::string, bool>> rows{
        {S{.lastOutcome = "Timer ended"}, "Timer ended", "Start session", true},
        {S{.rootStateExists = true}, "Recovery pending", "Start session", false},
        {S{.end = at, .starting = true}, "Authorizing…", "End session", false},
        {S{.end = at, .statusLine = std::string(StatusLine::checking)}, "Starting…", "End session",
         true},
        {S{.end = at, .taskRunning = true, .statusLine = active}, "Task running", "End session",
         true},
        {S{.end = at, .watchingAgents = true, .statusLine = active}, "Watching agents",
         "End session", true},
        {S{.end = at, .stopping = true, .statusLine = restoring}, "Restoring sleep…", "End session",
         false},
        {S{.end = at, .stopping = true, .statusLine = std::string(StatusLine::stopRequestFailed)},
         "Restoration needs attention", "Restore sleep", true},
        {S{.end = at, .stopping = true, .restoring = true, .statusLine = attention},
         "Restoration needs attention", "Restore sleep", false},
        {S{.restoring = true, .statusLine = restoring}, "Restoring sleep…", "Start session",
         false}};
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
    S state{.end = at, .remainingSeconds = 1800, .statusLine = std::string(StatusLine::active)};
    EXPECT_EQ(derive(state).detailText, "Ends at 17:40");
    EXPECT_DOUBLE_EQ(derive(state).ringFraction, 0.5);
    EXPECT_DOUBLE_EQ(derive(state, 1000).ringFraction, 1.0);
    state.watchingAgents = true;
    EXPECT_EQ(derive(state).detailText, "Ends when agents finish · limit 17:40");
}

} // namespace
} // namespace vesperon
