// Probe readings of a Linux machine: the kernel's power-supply and thermal classes,
// logind's lid state, the kernel's boot identifier and CLOCK_BOOTTIME. The readings
// are handed out in the shapes the shared probe rules read.
#include "platform/MachineReadings.hpp"

#include "platform/SuspendCountingClock.hpp"
#include "platform/linux/HostPaths.hpp"
#include "platform/linux/KernelAttribute.hpp"
#include "platform/linux/PowerSupplies.hpp"
#include "platform/linux/SystemBus.hpp"
#include "platform/linux/ThermalZones.hpp"

namespace vesperon::platform {
std::optional<nlohmann::json> powerSourceDescriptions() {
    return powerSourcesIn(hostPath("/sys/class/power_supply"));
}

std::optional<nlohmann::json> clamshellStateProperty() {
    // The watcher asks on every poll: one round trip on the process's one connection.
    SystemBus* bus = SystemBus::shared();
    if (bus == nullptr) {
        return std::nullopt;
    }
    const auto closed = bus->booleanProperty("org.freedesktop.login1", "/org/freedesktop/login1",
                                             "org.freedesktop.login1.Manager", "LidClosed");
    if (!closed) {
        if (SystemBus::connectionLost(closed.error())) {
            SystemBus::dropShared(); // made again at the next reading
        }
        return nlohmann::json();
    }
    return nlohmann::json(*closed);
}

std::optional<std::string> bootSessionIdentifierBytes() {
    const auto text = readKernelAttribute(hostPath("/proc/sys/kernel/random/boot_id"));
    if (!text) {
        return std::nullopt;
    }
    return *text + '\0';
}

int thermalState() {
    return thermalStateIn(hostPath("/sys/class/thermal"));
}

double continuousSeconds() {
    return suspendCountingSeconds();
}

} // namespace vesperon::platform
