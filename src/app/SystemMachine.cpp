#include "app/SystemMachine.hpp"

#include <sys/stat.h>

#include "platform/ContinuousClock.hpp"
#include "platform/SystemLayout.hpp"
#include "platform/SystemProbes.hpp"

namespace vesperon {

std::optional<bool> SystemMachine::sleepDisabled() {
    return vesperon::sleepDisabled();
}

bool SystemMachine::batterySafe() {
    return vesperon::batterySafe();
}

int SystemMachine::thermalState() {
    return vesperon::thermalState();
}

bool SystemMachine::rootStateExists() {
    struct stat info {};
    return ::lstat(systemLayout().rootDir.c_str(), &info) == 0;
}

double SystemMachine::continuousSeconds() {
    return vesperon::continuousSeconds();
}

Machine::WallClock::time_point SystemMachine::now() {
    return WallClock::now();
}

} // namespace vesperon
