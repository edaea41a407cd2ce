#pragma once

#include <memory>
#include <string>

#include "preferences/KeyValueStore.hpp"

namespace vesperon::platform {

// The application's user defaults: on a Mac the user defaults of its bundle
// identifier, elsewhere the XML property-list file .config/vesperon/preferences.plist
// in `homeDirectory`. The same keys and value types either way. App-only.
std::unique_ptr<KeyValueStore> makeUserDefaults(const std::string& homeDirectory);

} // namespace vesperon::platform
