#pragma once

#include <memory>

#include "app/Notifier.hpp"

namespace vesperon::platform {

// Notifications through the user-notification centre (UNUserNotificationCenter).
// Created on the main thread before the event loop starts, so that its delegate is
// in place when launching finishes; the delegate shows a notification that arrives
// while the application is in front as a banner with its sound. Outside an
// application bundle the centre does not exist: authorisation is then refused and
// nothing is posted.
class UserNotifier final : public Notifier {
  public:
    UserNotifier();
    ~UserNotifier() override;
    UserNotifier(const UserNotifier&) = delete;
    UserNotifier& operator=(const UserNotifier&) = delete;

    void requestAuthorization(std::function<void(bool granted)> answer) override;
    void post(const std::string& identifier, const std::string& title,
              const std::string& body) override;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vesperon::platform
