#include "privileged/ContinuousClock.hpp"

#include "platform/MachineReadings.hpp"

namespace vesperon {

double continuousSeconds() {
    return platform::continuousSeconds();
}

} // namespace vesperon
