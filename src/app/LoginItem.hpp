#pragma once

#include <string>

#include "common/Error.hpp"
#include "platform/LoginItemFormat.hpp"

namespace vesperon {

// The open-at-login switch. It is on exactly when its file exists; nothing else
// records it. On macOS the file is a per-user launchd agent; elsewhere it is the
// desktop's autostart entry for the executable. The file takes effect at the next
// login: nothing is loaded or unloaded now.
class LoginItem {
  public:
    using Format = LoginItemFormat;

    LoginItem(std::string homeDirectory, std::string executablePath,
              Format format = platformLoginItemFormat);

    // "Library/LaunchAgents/local.vesperon.app.plist" or
    // ".config/autostart/local.vesperon.app.desktop" in the home folder.
    std::string path() const;
    bool enabled() const;
    // Removes the file when it exists; otherwise writes it atomically, creating its
    // folders. The error's message is what the user sees.
    [[nodiscard]] Result<void> toggle();
    // What the file holds when the switch is on.
    std::string contents() const;

  private:
    std::string home_;
    std::string executable_;
    Format format_;
};

} // namespace vesperon
