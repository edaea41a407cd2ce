#pragma once

#include "app/Workspace.hpp"

namespace vesperon::gui {

// Links open with the desktop's handler for their scheme; the terminal is the
// desktop's terminal emulator.
class DesktopWorkspace final : public Workspace {
  public:
    bool openURL(const std::string& url) override;
    void openTerminal(std::function<void(std::optional<std::string> error)> done) override;
};

} // namespace vesperon::gui
