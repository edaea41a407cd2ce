#include "app/LiveMachineView.hpp"

#include <sys/stat.h>

#include "platform/ContinuousClock.hpp"
#include "platform/SystemLayout.hpp"
#include "platform/SystemProbes.hpp"

namespace vesperon {

std::optional<bool> LiveMachineView::sleepDisabled() {
    return vesperon::sleepDisabled();
}

bool LiveMachineView::batterySafe() {
    return vesperon::batterySafe();
}

int LiveMachineView::thermalState() {
    return vesperon::thermalState();
}

bool LiveMachineView::rootStateExists() {
    struct stat info {};
    return ::lstat(systemLayout().rootDir.c_str(), &info) == 0;
}

double LiveMachineView::continuousSeconds() {
    return vesperon::continuousSeconds();
}

MachineView::WallClock::time_point LiveMachineView::now() {
    return WallClock::now();
}

} // namespace vesperon
