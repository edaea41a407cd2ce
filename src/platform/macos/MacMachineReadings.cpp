// Probe readings of a Mac: IOKit's power sources and power-management root domain,
// the kernel's boot-session identifier and the continuous clock. The thermal state is
// Foundation's (ThermalState.mm). Each reading is handed out as it is; the probes'
// rules decide what it means.
#include "platform/MachineReadings.hpp"

#include <IOKit/IOKitLib.h>
#include <IOKit/ps/IOPowerSources.h>
#include <mach/mach_time.h>
#include <sys/sysctl.h>

#include "platform/macos/CfRef.hpp"
#include "platform/macos/CfValues.hpp"

namespace vesperon::platform {

std::optional<nlohmann::json> powerSourceDescriptions() {
    // Both copies follow the Create rule; each description follows the Get rule and
    // lives as long as `info`.
    const CfRef<CFTypeRef> info(IOPSCopyPowerSourcesInfo());
    if (!info) {
        return std::nullopt;
    }
    const CfRef<CFArrayRef> sources(IOPSCopyPowerSourcesList(info.get()));
    if (!sources) {
        return std::nullopt;
    }
    nlohmann::json descriptions = nlohmann::json::array();
    const CFIndex count = CFArrayGetCount(sources.get());
    for (CFIndex i = 0; i < count; ++i) {
        const CFDictionaryRef description =
            IOPSGetPowerSourceDescription(info.get(), CFArrayGetValueAtIndex(sources.get(), i));
        if (description != nullptr) {
            descriptions.push_back(jsonFromCf(description));
        }
    }
    return descriptions;
}

std::optional<nlohmann::json> clamshellStateProperty() {
    // The matching dictionary is consumed by the call, also when it finds nothing.
    // MACH_PORT_NULL is the default main port under every SDK's name for it.
    const io_service_t root =
        IOServiceGetMatchingService(MACH_PORT_NULL, IOServiceMatching("IOPMrootDomain"));
    if (root == IO_OBJECT_NULL) {
        return std::nullopt;
    }
    const CfRef<CFTypeRef> state(IORegistryEntryCreateCFProperty(root, CFSTR("AppleClamshellState"),
                                                                 kCFAllocatorDefault, 0));
    (void)IOObjectRelease(root);
    return state ? jsonFromCf(state.get()) : nlohmann::json();
}

std::optional<std::string> bootSessionIdentifierBytes() {
    // A UUID's 36 characters and the terminating NUL; the length comes back as written.
    char buffer[37] = {};
    std::size_t length = sizeof buffer;
    if (::sysctlbyname("kern.bootsessionuuid", buffer, &length, nullptr, 0) != 0) {
        return std::nullopt;
    }
    return std::string(buffer, length);
}

double continuousSeconds() {
    // mach_continuous_time counts on while the machine sleeps, in ticks whose length
    // the timebase gives (not one nanosecond on Apple silicon).
    static const mach_timebase_info_data_t timebase = [] {
        mach_timebase_info_data_t base{};
        if (mach_timebase_info(&base) != KERN_SUCCESS || base.denom == 0) {
            base.numer = 1;
            base.denom = 1;
        }
        return base;
    }();
    const double ticks = static_cast<double>(mach_continuous_time());
    return ticks * timebase.numer / timebase.denom / 1e9;
}

} // namespace vesperon::platform
