// The user defaults off a Mac: one property-list file in the user's home folder.
#include "platform/UserDefaults.hpp"

#include "preferences/PropertyListFile.hpp"

namespace vesperon::platform {

std::unique_ptr<KeyValueStore> makeUserDefaults(const std::string& homeDirectory) {
    return std::make_unique<PropertyListFile>(homeDirectory +
                                              "/.config/vesperon/preferences.plist");
}

} // namespace vesperon::platform
