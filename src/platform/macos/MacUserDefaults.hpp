#pragma once

#include <string>

#include "preferences/KeyValueStore.hpp"

namespace vesperon {

// The user defaults of a Mac application: CFPreferences for `applicationId` (the
// bundle identifier) and the current user, with the keys and value types the
// property-list file keeps elsewhere. Every read synchronises first, so a change made
// by another process is seen; every write is synchronised before it is reported done.
// Never used by the root roles: as root it would read and write root's defaults.
class MacUserDefaults final : public KeyValueStore {
  public:
    explicit MacUserDefaults(std::string applicationId);

    [[nodiscard]] Result<std::optional<PreferenceValue>> value(std::string_view key) const override;
    [[nodiscard]] Result<void> setValue(std::string_view key,
                                        const PreferenceValue& value) override;

  private:
    std::string applicationId_;
};

} // namespace vesperon
