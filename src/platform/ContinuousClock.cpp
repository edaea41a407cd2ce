#include "platform/ContinuousClock.hpp"

#include <chrono>

#include "platform/MachineReadings.hpp"

namespace vesperon {

double continuousSeconds() {
    return platform::continuousSeconds();
}

double wallClockSeconds() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count();
}

} // namespace vesperon
