#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/SessionPhase.hpp"

namespace vesperon {

// What the panel reads from its owner, the session controller.
struct PanelOwnerState {
    std::optional<std::chrono::system_clock::time_point> end;
    SessionPhase phase = SessionPhase::Idle;
    bool stopping = false;  // also while a start in flight has been asked to stop
    bool attention = false; // the stop needs the user's restore
    bool watchingAgents = false;
    bool taskRunning = false;
    std::optional<std::string> agentSummary;
    std::optional<double> remainingSeconds;
    std::optional<std::string> lastOutcome;
    bool rootStateExists = false;
};

// The panel's own fields.
struct PanelFields {
    int selectedSeconds = 3600;
    double totalSeconds = 3600.0;
    std::optional<double> previewRemaining; // image previews only
    bool customValid = true;
    std::string customError;
};

enum class ColourRole { Default, Secondary, Mint };

struct QuickDurationModel {
    int seconds = 0;
    std::string title;
    std::string accessibilityLabel;
    bool enabled = false;
    bool hidden = false;
    bool on = false;
    ColourRole bezel = ColourRole::Default;
};

// Every text, visibility, enabled state and colour role of the panel, derived from
// the owner's state and the panel's fields. The view only draws it.
struct PanelModel {
    bool active = false;
    bool busy = false;
    bool attention = false;
    std::optional<double> remaining;

    std::string clockText;
    std::string stateText;
    ColourRole stateColour = ColourRole::Secondary;

    std::vector<QuickDurationModel> quickDurations;

    bool customHidden = false; // the inputs, their labels, the error and the two buttons
    bool inputsEnabled = false;
    std::string customLabel = "Custom time";
    std::string customError;
    // The inputs' texts from the selected duration while the entry is valid; the view
    // writes them only while neither input is being edited.
    std::optional<std::string> hoursText;
    std::optional<std::string> minutesText;

    std::string taskTitle = "Run command…";
    std::string agentTitle = "Watch agents…";
    bool taskEnabled = false;
    bool agentEnabled = false;

    std::string mainTitle;
    bool mainEnabled = false;
    ColourRole mainBezel = ColourRole::Default;

    bool detailHidden = true;
    std::string detailText;

    bool ringShown = false;
    double ringFraction = 0; // 0..1, of a full circle emptying clockwise from the top
};

// The session end time in the user's short time style ("17:40").
using EndTimeFormatter = std::function<std::string(std::chrono::system_clock::time_point)>;
std::string shortLocalTime(std::chrono::system_clock::time_point time);

// The quick durations, left to right, in seconds.
inline constexpr int quickDurationSeconds[] = {300, 1800, 3600, 14400, 86400};

// `owner` is nothing for a panel without an owner (the image renderer).
PanelModel derivePanelModel(const std::optional<PanelOwnerState>& owner, const PanelFields& fields,
                            const EndTimeFormatter& formatEnd = shortLocalTime);

// The custom entry: both texts plain ASCII digits, hours 0..24, minutes 0..59, and
// the total from one minute to 24 hours; else nothing.
std::optional<int> customSeconds(std::string_view hours, std::string_view minutes);

// The message under an invalid custom entry.
inline constexpr std::string_view customEntryError = "Choose 1 minute to 24 hours.";

} // namespace vesperon
