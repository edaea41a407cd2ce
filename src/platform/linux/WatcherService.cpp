#include "platform/linux/WatcherService.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/RunningImage.hpp"
#include "platform/SystemLayout.hpp"
#include "platform/linux/DetachedService.hpp"
#include "platform/linux/HostPaths.hpp"
#include "platform/linux/SystemBus.hpp"
#include "platform/linux/SystemdUnits.hpp"

namespace vesperon::platform {

bool systemdRuns() {
    struct stat info {};
    return ::lstat(hostPath("/run/systemd/system").c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string watcherUnitName() {
    return systemLayout().jobName + ".service";
}

std::string detachedServicePidFile() {
    return hostPath("/run/local.vesperon.session.pid");
}

bool isTheWatcher() {
    struct stat self {};
    struct stat watcher {};
    return ::stat(runningImagePath().c_str(), &self) == 0 &&
           ::stat(systemLayout().watcherPath().c_str(), &watcher) == 0 &&
           self.st_dev == watcher.st_dev && self.st_ino == watcher.st_ino;
}

Result<std::optional<pid_t>> watcherProcess() {
    if (isTheWatcher()) {
        return std::optional<pid_t>(::getpid());
    }
    if (!systemdRuns()) {
        return detachedServiceProcess(detachedServicePidFile());
    }
    SystemBus* bus = SystemBus::shared();
    if (bus == nullptr) {
        return fail("org.freedesktop.DBus.Error.NoServer", "The system bus is not available");
    }
    return unitMainProcess(*bus, watcherUnitName());
}

} // namespace vesperon::platform
