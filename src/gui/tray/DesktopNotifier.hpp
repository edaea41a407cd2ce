#pragma once

#include "app/Notifier.hpp"

namespace vesperon::gui {

// Notifications through the desktop's notification service
// (org.freedesktop.Notifications on the session bus). Permission is the service's
// presence: it is granted when the service answers, refused when there is no session
// bus or no service, so the session-ended alerts stay off.
class DesktopNotifier final : public Notifier {
  public:
    void requestAuthorization(std::function<void(bool granted)> answer) override;
    void post(const std::string& identifier, const std::string& title,
              const std::string& body) override;
};

} // namespace vesperon::gui
