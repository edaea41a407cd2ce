#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "common/Error.hpp"

namespace vesperon {

// An opaque byte blob, kept apart from text so that a value keeps its type.
struct PreferenceData {
    std::string bytes;
    friend bool operator==(const PreferenceData&, const PreferenceData&) = default;
};

// A stored value of a type this program never writes (a date, an array, a
// dictionary…): readers see that something is there, but cannot use it.
struct UnusablePreference {
    std::string kind;
    friend bool operator==(const UnusablePreference&, const UnusablePreference&) = default;
};

// One typed value, as the user defaults keep it: data, integer, real, boolean, text.
using PreferenceValue =
    std::variant<PreferenceData, std::int64_t, double, bool, std::string, UnusablePreference>;

// The application's typed key-value store (the user defaults). Reads answer nothing
// for an absent key and an error only when the store itself cannot be read; writes
// report any failure and never replace a store they could not read.
class KeyValueStore {
  public:
    virtual ~KeyValueStore() = default;

    [[nodiscard]] virtual Result<std::optional<PreferenceValue>>
    value(std::string_view key) const = 0;
    // Stores `value` under `key`, keeping every other key as it was. An
    // UnusablePreference cannot be written.
    [[nodiscard]] virtual Result<void> setValue(std::string_view key,
                                                const PreferenceValue& value) = 0;
};

} // namespace vesperon
