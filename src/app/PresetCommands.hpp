#pragma once

#include <string>
#include <string_view>

#include "app/SessionControl.hpp"
#include "app/Ui.hpp"
#include "preferences/PreferencesStore.hpp"

namespace vesperon {

// The commands of the settings menu for durations beyond the quick buttons: focus the
// custom entry, save the selected duration under a name, pick a saved preset, delete
// one. They keep no state of their own: the presets live in the preferences store.
class PresetCommands {
  public:
    PresetCommands(SessionControl& session, Ui& ui, PreferencesStore& preferences)
        : session_(session), ui_(ui), preferences_(preferences) {}

    void customDuration();
    void savePreset();
    // Makes the preset's duration the selected one; only while nothing is busy, and
    // never starts a session. An id that matches no preset (deleted meanwhile) is ignored.
    void selectPreset(std::string_view presetId);
    void deletePreset();

  private:
    // `text`, followed by why the preferences file could not be read when that is the
    // cause of the trouble.
    [[nodiscard]] std::string besideStoreProblem(std::string_view text) const;

    SessionControl& session_;
    Ui& ui_;
    PreferencesStore& preferences_;
};

} // namespace vesperon
