#pragma once

#include <cstddef>
#include <string>

#include "preferences/KeyValueStore.hpp"

#include "common/ErrorDomains.hpp"

namespace vesperon {

// The user defaults off macOS: one XML property-list file holding a dictionary.
// Every read goes to the file, so a change made by someone else is seen at once.
// Every write reads the file again, changes one key and replaces the file
// atomically (temporary file, fsync, rename) with mode 0600. A file that cannot be
// read as a dictionary (unreadable, truncated, binary, too large, not a regular
// file, of another root type) is reported and never written over.
class PropertyListFile final : public KeyValueStore {
  public:
    static constexpr const char* errorDomain = vesperon::errorDomain::preferences;
    // Larger files are refused when read, and never written.
    static constexpr std::size_t maxFileBytes = std::size_t{1024} * 1024;

    // `path` is absolute; missing parent folders are created (mode 0700) at the first write.
    explicit PropertyListFile(std::string path);

    [[nodiscard]] Result<std::optional<PreferenceValue>> value(std::string_view key) const override;
    [[nodiscard]] Result<void> setValue(std::string_view key,
                                        const PreferenceValue& value) override;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

} // namespace vesperon
