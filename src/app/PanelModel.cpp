#include "app/PanelModel.hpp"

#include <algorithm>
#include <charconv>
#include <ctime>

#include "app/DurationText.hpp"

namespace vesperon {
namespace {

bool allAsciiDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<long long> parseDigits(std::string_view text) {
    if (!allAsciiDigits(text)) {
        return std::nullopt;
    }
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::string quickAccessibilityLabel(int seconds, const std::string& title) {
    return seconds == 300 ? "5-minute test" : "Stay awake for " + title;
}

} // namespace

std::string shortLocalTime(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M", &local);
    return text;
}

std::optional<int> customSeconds(std::string_view hours, std::string_view minutes) {
    const auto h = parseDigits(hours);
    const auto m = parseDigits(minutes);
    if (!h || !m || *h > 24 || *m > 59) {
        return std::nullopt;
    }
    const long long total = *h * 3600 + *m * 60;
    if (total < 60 || total > 86400) {
        return std::nullopt;
    }
    return static_cast<int>(total);
}

PanelModel derivePanelModel(const std::optional<PanelOwnerState>& owner, const PanelFields& fields,
                            const EndTimeFormatter& formatEnd) {
    PanelModel model;
    const bool ownerHasEnd = owner && owner->end.has_value();
    model.active = ownerHasEnd || fields.previewRemaining.has_value();
    const bool starting = owner && startInFlight(owner->phase);
    const bool restoring = owner && owner->phase == SessionPhase::Restoring;
    model.busy = starting || restoring || (owner && owner->stopping);
    model.attention = owner && owner->attention;
    model.remaining = fields.previewRemaining
                          ? fields.previewRemaining
                          : (owner ? owner->remainingSeconds : std::optional<double>());
    const bool recoveryPending = owner && owner->rootStateExists;

    model.clockText =
        clockText(model.remaining ? *model.remaining : static_cast<double>(fields.selectedSeconds));

    const bool ready = model.active &&
                       (fields.previewRemaining || (owner && owner->phase == SessionPhase::Active));
    if (model.attention) {
        model.stateText = "Restoration needs attention";
    } else if (model.busy && starting) {
        model.stateText = "Authorizing…";
    } else if (model.busy) {
        model.stateText = "Restoring sleep…";
    } else if (model.active && owner && owner->watchingAgents) {
        model.stateText = owner->agentSummary ? *owner->agentSummary : "Watching agents";
    } else if (model.active && owner && owner->taskRunning) {
        model.stateText = "Task running";
    } else if (ready) {
        model.stateText = "Ready to close lid";
        model.stateColour = ColourRole::Mint;
    } else if (model.active) {
        model.stateText = "Starting…";
    } else if (recoveryPending) {
        model.stateText = "Recovery pending";
    } else {
        model.stateText = owner && owner->lastOutcome ? *owner->lastOutcome : "Ready";
    }

    for (const int seconds : quickDurationSeconds) {
        QuickDurationModel button;
        button.seconds = seconds;
        button.title = quickDurationTitle(seconds);
        button.accessibilityLabel = quickAccessibilityLabel(seconds, button.title);
        button.enabled = !model.busy && !recoveryPending;
        button.hidden = model.active || model.busy;
        button.on = seconds == fields.selectedSeconds;
        button.bezel = button.on ? ColourRole::Mint : ColourRole::Default;
        model.quickDurations.push_back(std::move(button));
    }

    model.customHidden = model.active || model.busy;
    model.inputsEnabled = !model.busy;
    model.customError = fields.customError;
    if (fields.customValid) {
        model.hoursText = std::to_string(fields.selectedSeconds / 3600);
        model.minutesText = std::to_string(fields.selectedSeconds % 3600 / 60);
    }
    model.taskEnabled = !model.active && !model.busy && fields.customValid;
    model.agentEnabled = model.taskEnabled;

    model.mainTitle = model.attention ? "Restore sleep"
                      : model.active  ? "End session"
                                      : "Start session";
    if (restoring || starting) {
        model.mainEnabled = false;
    } else if (model.attention) {
        model.mainEnabled = true;
    } else {
        model.mainEnabled = !model.busy && (model.active || !owner || !recoveryPending);
    }
    if (!model.active && !model.busy && !fields.customValid) {
        model.mainEnabled = false;
    }
    model.mainBezel = model.active ? ColourRole::Default : ColourRole::Mint;

    model.detailHidden = !model.active && !model.busy;
    if (ownerHasEnd) {
        const char* prefix = owner->watchingAgents ? "Ends when agents finish · limit "
                             : owner->taskRunning  ? "Ends when task exits · limit "
                                                   : "Ends at ";
        model.detailText = prefix + formatEnd(*owner->end);
    } else if (fields.previewRemaining) {
        model.detailText = "Ends at 17:40";
    }

    model.ringShown = model.active;
    if (model.active) {
        const double remaining = model.remaining.value_or(0.0);
        const double fraction = fields.totalSeconds > 0 ? remaining / fields.totalSeconds : 0.0;
        model.ringFraction = std::clamp(fraction, 0.0, 1.0);
        if (!(model.ringFraction >= 0.0)) { // NaN
            model.ringFraction = 0.0;
        }
    }
    return model;
}

} // namespace vesperon
