#include "preferences/PreferencesError.hpp"

#include "common/ErrorDomains.hpp"

namespace vesperon {

const std::string& describe(PreferencesError error) {
    static const std::string invalidDuration = "Choose a duration from one minute to 24 hours.";
    static const std::string invalidName = "Give the preset a name of 1\u201330 characters.";
    static const std::string limitReached =
        "You can save up to eight presets. Delete one before adding another.";
    static const std::string corruptStorage =
        "Saved presets could not be read. They have been preserved; restore the saved data "
        "before editing presets.";
    static const std::string storage = "Your preset could not be saved.";
    switch (error) {
    case PreferencesError::InvalidDuration:
        return invalidDuration;
    case PreferencesError::InvalidName:
        return invalidName;
    case PreferencesError::LimitReached:
        return limitReached;
    case PreferencesError::CorruptStorage:
        return corruptStorage;
    case PreferencesError::Storage:
        break;
    }
    return storage;
}

Error toError(PreferencesError error) {
    return Error::make(errorDomain::preferences, describe(error));
}

} // namespace vesperon
