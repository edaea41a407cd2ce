#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Error.hpp"
#include "preferences/KeyValueStore.hpp"
#include "preferences/PreferencesError.hpp"
#include "preferences/SavedPreset.hpp"

namespace vesperon {

// What the application remembers between launches: up to eight named duration
// presets, the last session duration and two switches. The preset list is checked
// when it is loaded; a list that cannot be accepted (or a store that cannot be read)
// puts the store into the corrupt state for the life of the process, in which every
// preset edit is refused and the stored value is never written over.
class PreferencesStore {
  public:
    static constexpr const char* presetKey = "Vesperon.savedPresets.v1";
    static constexpr const char* durationKey = "Vesperon.lastDuration.v1";
    static constexpr const char* automationKey = "Vesperon.urlAutomation.v1";
    static constexpr const char* alertsKey = "Vesperon.sessionAlerts.v1";
    static constexpr std::size_t maxPresets = 8;
    static constexpr std::size_t maxNameCharacters = 30;
    static constexpr std::int64_t minSeconds = 60;
    static constexpr std::int64_t maxSeconds = 86'400;
    static constexpr std::int64_t fallbackSeconds = 3'600;

    explicit PreferencesStore(std::unique_ptr<KeyValueStore> defaults);

    // The presets in display order; empty when none are stored or the list is corrupt.
    const std::vector<SavedPreset>& presets() const { return saved_; }
    bool isCorrupt() const { return corrupt_; }
    // The description of the last storage failure, if any.
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }
    // Why the store itself could not be read at start-up (a damaged preferences file),
    // for the caller to show beside the corrupt-storage message.
    const std::optional<Error>& storeProblem() const { return storeProblem_; }

    // Adds a preset, or updates the one whose name matches ignoring letter case (its
    // id and position stay; it takes the new spelling and duration).
    std::expected<void, PreferencesError> savePreset(std::string_view name, std::int64_t seconds);
    // Removes the preset with this id; an unknown id is no error.
    std::expected<void, PreferencesError> deletePreset(const Uuid& id);

    // The last session duration: a stored whole number of seconds in range, else 3600.
    std::int64_t lastDuration() const;
    // Stores `seconds` when it is in range and 3600 otherwise.
    [[nodiscard]] Result<void> setLastDuration(std::int64_t seconds);

    // Read from and written to the store on every access; absent or unusable is false.
    bool automationEnabled() const;
    [[nodiscard]] Result<void> setAutomationEnabled(bool enabled);
    bool sessionAlertsEnabled() const;
    [[nodiscard]] Result<void> setSessionAlertsEnabled(bool enabled);

  private:
    void load();
    std::expected<void, PreferencesError> persist(std::vector<SavedPreset> list);
    bool readSwitch(const char* key) const;

    std::unique_ptr<KeyValueStore> defaults_;
    std::optional<std::string> errorMessage_;
    std::optional<Error> storeProblem_;
    bool corrupt_ = false;
    std::vector<SavedPreset> saved_;
};

} // namespace vesperon
