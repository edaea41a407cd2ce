#pragma once

#include <functional>
#include <string>

namespace vesperon {

// The desktop's notification service.
class Notifier {
  public:
    virtual ~Notifier() = default;

    // Asks for permission to show alerts with sound. `answer` may be called on any
    // thread; the caller hands it to the main queue.
    virtual void requestAuthorization(std::function<void(bool granted)> answer) = 0;
    // Delivers a notification at once, with the default sound. Failures are ignored.
    virtual void post(const std::string& identifier, const std::string& title,
                      const std::string& body) = 0;
};

} // namespace vesperon
