// The thermal state of this process's view of the system, as Foundation reports it.
#include "platform/MachineReadings.hpp"

#import <Foundation/Foundation.h>

namespace vesperon::platform {

int thermalState() {
    // NSProcessInfoThermalState's raw values are the probes' 0 nominal … 3 critical.
    // Safe from any thread; the pool drains what the getters autorelease.
    @autoreleasepool {
        return static_cast<int>([[NSProcessInfo processInfo] thermalState]);
    }
}

} // namespace vesperon::platform
