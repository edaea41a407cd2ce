#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vesperon {

// Opening links and applications with the desktop's default handlers.
class Workspace {
  public:
    virtual ~Workspace() = default;

    // False when no handler could be started for the link's scheme.
    virtual bool openURL(const std::string& url) = 0;
    // Opens the terminal application (Terminal.app on macOS); `done` gets an error
    // description on failure and may be called on any thread.
    virtual void openTerminal(std::function<void(std::optional<std::string> error)> done) = 0;
};

} // namespace vesperon
