#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.hpp"
#include "TempFolder.hpp"

namespace vesperon::e2e {

using namespace vesperon::testing;

// A throw-away desktop for one test: a virtual X server (Xvfb), a private runtime
// folder as a login session has, optionally a real system-tray host (trayer, an XEmbed
// tray) and a private session bus. Everything ends with the object.
class DesktopSession {
  public:
    explicit DesktopSession(bool trayAndBus);
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    const std::string& failure() const { return failure_; } // empty when all came up
    std::vector<std::string> environment() const; // DISPLAY, XDG_RUNTIME_DIR, the bus if any
    const std::string& display() const { return display_; }
    ProcessOutcome xdotool(const std::vector<std::string>& args) const;

  private:
    std::string failure_;
    std::string display_;
    std::string busAddress_;
    testing::TempFolder runtime_{"vesperon-runtime"};
    // Ended in reverse: the clients before their servers.
    std::unique_ptr<BackgroundProcess> server_;
    std::unique_ptr<BackgroundProcess> tray_;
    std::unique_ptr<BackgroundProcess> bus_;
};

} // namespace vesperon::e2e
