#pragma once

#include <string>

#include "common/Error.hpp"

namespace vesperon {

// Every refusal of a preset edit; the description is the sentence the user sees.
enum class PreferencesError {
    InvalidDuration,
    InvalidName,
    LimitReached,
    CorruptStorage,
    Storage,
};

const std::string& describe(PreferencesError error);
// The same refusal as an Error value (domain "Vesperon.Preferences", code 1).
Error toError(PreferencesError error);

} // namespace vesperon
