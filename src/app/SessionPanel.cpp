#include "app/SessionPanel.hpp"

#include "app/FinishReason.hpp"

namespace vesperon {

void SessionPanel::setPreview(double remaining, double total) {
    fields_.previewRemaining = remaining;
    fields_.totalSeconds = total;
}

void SessionPanel::choosePreset(int seconds) {
    fields_.customValid = true;
    fields_.customError.clear();
    fields_.selectedSeconds = seconds;
}

void SessionPanel::selectDuration(int seconds) {
    choosePreset(seconds);
    if (owner_ != nullptr) {
        owner_->storeLastDuration(seconds);
    }
}

void SessionPanel::customTextChanged(std::string_view hours, std::string_view minutes) {
    const auto seconds = customSeconds(hours, minutes);
    if (!seconds) {
        fields_.customValid = false;
        fields_.customError = customEntryError;
        return;
    }
    selectDuration(*seconds);
}

void SessionPanel::mainAction() {
    if (owner_ == nullptr) {
        return;
    }
    const PanelOwnerState state = owner_->panelState();
    if (!fields_.customValid && !state.end && !state.stopping &&
        state.phase != SessionPhase::Restoring) {
        return;
    }
    const PanelModel current = model();
    if (current.attention) {
        owner_->restore();
    } else if (state.end) {
        owner_->setFinishReason(FinishReason::EndedManually);
        owner_->stop();
    } else {
        fields_.totalSeconds = fields_.selectedSeconds;
        owner_->start(fields_.selectedSeconds);
    }
}

void SessionPanel::taskAction() {
    if (owner_ != nullptr && fields_.customValid) {
        owner_->runTask();
    }
}

void SessionPanel::agentAction() {
    if (owner_ != nullptr && fields_.customValid) {
        owner_->watchAgents();
    }
}

PanelModel SessionPanel::model(const EndTimeFormatter& formatEnd) const {
    std::optional<PanelOwnerState> state;
    if (owner_ != nullptr) {
        state = owner_->panelState();
    }
    return derivePanelModel(state, fields_, formatEnd);
}

} // namespace vesperon
