#include "app/PresetCommands.hpp"

#include <vector>

#include "app/SessionPanel.hpp"

namespace vesperon {
namespace {

constexpr int firstButton = 0;

} // namespace

std::string PresetCommands::besideStoreProblem(std::string_view text) const {
    std::string shown(text);
    if (const auto& problem = preferences_.storeProblem(); problem && preferences_.isCorrupt()) {
        shown += "\n\n" + problem->message;
    }
    return shown;
}

void PresetCommands::customDuration() {
    if (session_.panel() != nullptr) {
        ui_.focusCustomHours();
    }
}

void PresetCommands::savePreset() {
    const DialogAnswer answer = ui_.runDialog(Dialogs::savePreset());
    if (answer.button != firstButton) {
        return;
    }
    if (auto saved = preferences_.savePreset(answer.text, session_.selectedDuration()); !saved) {
        const std::string& reason = describe(saved.error());
        session_.alert(AlertKind::PresetCouldNotBeSaved,
                       saved.error() == PreferencesError::CorruptStorage
                           ? besideStoreProblem(reason)
                           : reason);
    }
}

void PresetCommands::selectPreset(std::string_view presetId) {
    if (session_.busy() || presetId.empty()) {
        return;
    }
    for (const SavedPreset& preset : preferences_.presets()) {
        if (preset.id.text() != presetId) {
            continue;
        }
        const int seconds = static_cast<int>(preset.seconds);
        if (SessionPanel* panel = session_.panel()) {
            panel->choosePreset(seconds);
        }
        session_.preferenceWritten(preferences_.setLastDuration(seconds));
        session_.refreshPanel();
        return;
    }
}

void PresetCommands::deletePreset() {
    const std::vector<SavedPreset> presets = preferences_.presets();
    if (presets.empty()) {
        const auto& message = preferences_.errorMessage();
        session_.alert(AlertKind::NoPresetsSaved, message ? besideStoreProblem(*message)
                                                          : std::string(AlertDetail::firstPreset));
        return;
    }
    std::vector<std::string> names;
    names.reserve(presets.size());
    for (const SavedPreset& preset : presets) {
        names.push_back(preset.name);
    }
    const DialogAnswer answer = ui_.runDialog(Dialogs::deletePreset(std::move(names)));
    if (answer.button != firstButton || answer.selectedItem < 0 ||
        static_cast<std::size_t>(answer.selectedItem) >= presets.size()) {
        return;
    }
    if (auto deleted =
            preferences_.deletePreset(presets[static_cast<std::size_t>(answer.selectedItem)].id);
        !deleted) {
        session_.alert(AlertKind::PresetCouldNotBeDeleted, describe(deleted.error()));
    }
}

} // namespace vesperon
