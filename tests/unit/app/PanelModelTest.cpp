// What the panel shows, derived from the controller's state (the views show it).
#include <gtest/gtest.h>

#include "app/PanelModel.hpp"

// Owner states are written with designated initializers that leave the rest default.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace vesperon {
namespace {

using S = PanelOwnerState;
const auto at = std::chrono::system_clock::time_point(std::chrono::seconds(1000));

PanelModel derive(const S& state) {
    return derivePanelModel(state, PanelFields{}, [](auto) { return std::string("17:40"); });
}

TEST(CustomSeconds, AcceptsOneMinuteToTwentyFourHoursOfPlainDigits) {
    EXPECT_EQ(customSeconds("0", "1"), 60);
    EXPECT_EQ(customSeconds("01", "05"), 3900);
    EXPECT_EQ(customSeconds("24", "0"), 86400);
    // Refused "hours:minutes"; "\xd9\xa1" is ARABIC-INDIC DIGIT ONE.
    for (const std::string entry :
         {"0:0", "24:1", "1:60", ":5", " 1:0", "+1:0", "\xd9\xa1:0", "99999999999999999999999:0"}) {
        const std::size_t colon = entry.find(':');
        EXPECT_EQ(customSeconds(entry.substr(0, colon), entry.substr(colon + 1)), std::nullopt)
            << entry;
    }
}

TEST(PanelModel, StateLabelAndButtonsFollowTheOwner) {
    using P = SessionPhase;
    const std::vector<std::tuple<S, std::string, std::string, bool>> rows{
        {S{.end = at, .phase = P::Verifying}, "Authorizing…", "End session", false},
        {S{.end = at}, "Starting…", "End session", true},
        {S{.end = at, .phase = P::Active}, "Ready to close lid", "End session", true},
        {S{.end = at, .phase = P::Active, .taskRunning = true}, "Task running", "End session",
         true},
        {S{.end = at, .phase = P::Active, .watchingAgents = true}, "Watching agents", "End session",
         true},
        {S{.end = at, .phase = P::Stopping, .stopping = true}, "Restoring sleep…", "End session",
         false},
        {S{.end = at, .phase = P::NeedsAttention, .stopping = true, .attention = true},
         "Restoration needs attention", "Restore sleep", true},
        {S{.end = at, .phase = P::Restoring, .stopping = true, .attention = true},
         "Restoration needs attention", "Restore sleep", false},
        {S{.phase = P::Restoring}, "Restoring sleep…", "Start session", false}};
    for (const auto& [state, stateText, mainTitle, mainEnabled] : rows) {
        SCOPED_TRACE(stateText);
        const PanelModel model = derive(state);
        EXPECT_EQ(model.stateText, stateText);
        EXPECT_EQ(model.stateColour,
                  stateText == "Ready to close lid" ? ColourRole::Mint : ColourRole::Secondary);
        EXPECT_EQ(model.mainTitle, mainTitle);
        EXPECT_EQ(model.mainEnabled, mainEnabled);
        const bool busy = state.phase != P::Idle && state.phase != P::Active;
        for (const auto& button : model.quickDurations) {
            EXPECT_EQ(button.hidden, busy || state.end);
            EXPECT_EQ(button.enabled, !busy && !state.rootStateExists);
        }
        EXPECT_EQ(model.taskEnabled, !busy && !state.end);
    }
}

} // namespace
} // namespace vesperon
