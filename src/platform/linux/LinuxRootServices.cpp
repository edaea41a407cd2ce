// The root side's seam on Linux. The sleep override is a logind inhibitor lock that
// this process holds: switching on takes it, switching off closes its descriptor, and
// reading asks logind whether it holds ours. Because the kernel closes the descriptor
// when the watcher dies, a crashed or killed watcher gives sleep back by itself, and
// a reboot leaves no override behind. The watcher runs as a transient systemd service
// named after the job's label, or as a detached daemon where systemd does not run.
#include "platform/RootServices.hpp"

#include <chrono>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "common/ErrorDomains.hpp"
#include "platform/SystemLayout.hpp"
#include "platform/linux/DetachedService.hpp"
#include "platform/linux/Logind.hpp"
#include "platform/linux/SystemBus.hpp"
#include "platform/linux/SystemdUnits.hpp"
#include "platform/linux/WatcherService.hpp"

namespace vesperon {

using platform::isTheWatcher;
using platform::SystemBus;
using platform::systemdRuns;

namespace {

using namespace std::chrono_literals;
constexpr auto settleLimit = 2s;
constexpr auto stopLimit = 10s;
constexpr auto pollStep = 50ms;

// The descriptor of the inhibitor this process holds; -1 when none.
int heldInhibitor = -1;

std::unexpected<Error> noBus() {
    return fail(errorDomain::system, "The D-Bus system bus is not available.");
}

// Whether systemd says the watcher's unit is gone or stopped; false when it does not say.
bool unitStopped(SystemBus& bus) {
    const auto state = platform::unitActiveState(bus, platform::watcherUnitName());
    if (!state) {
        return false;
    }
    const std::optional<std::string>& active = *state;
    return !active || *active == "inactive" || *active == "failed";
}

// logind drops a closed inhibitor when it next runs its event loop; wait for that
// (briefly) so that a reading right after switching off sees the lock of `watcher`
// gone.
void awaitInhibitorGone(pid_t watcher) {
    const auto deadline = std::chrono::steady_clock::now() + settleLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        SystemBus* bus = SystemBus::shared();
        if (bus == nullptr) {
            return;
        }
        const auto inhibitors = platform::listInhibitors(*bus);
        if (!inhibitors || !platform::holdsOverride(*inhibitors, watcher)) {
            return;
        }
        std::this_thread::sleep_for(pollStep);
    }
}

} // namespace

Result<void> startRecoveryService() {
    const SystemLayout& layout = systemLayout();
    const std::vector<std::string> arguments{layout.watcherPath(), "--watch"};
    if (!systemdRuns()) {
        return platform::startDetachedService(arguments, platform::detachedServicePidFile());
    }
    SystemBus* bus = SystemBus::shared();
    if (bus == nullptr) {
        return noBus();
    }
    return platform::startTransientService(*bus, platform::watcherUnitName(), arguments);
}

Result<void> stopRecoveryService() {
    if (!systemdRuns()) {
        return platform::stopDetachedService(platform::detachedServicePidFile());
    }
    SystemBus* bus = SystemBus::shared();
    if (bus == nullptr) {
        return noBus();
    }
    if (auto stopped = platform::stopUnit(*bus, platform::watcherUnitName()); !stopped) {
        return stopped;
    }
    // Like an unload, this returns once the watcher has gone (or ends the caller, when
    // the watcher stops its own service).
    const auto deadline = std::chrono::steady_clock::now() + stopLimit;
    while (!unitStopped(*bus)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return fail(errorDomain::system, "systemd did not stop " + platform::watcherUnitName() +
                                                 " within 10 seconds.");
        }
        std::this_thread::sleep_for(pollStep);
    }
    return {};
}

ServiceState recoveryServiceState() {
    if (!systemdRuns()) {
        return platform::detachedServiceRunning(platform::detachedServicePidFile())
                   ? ServiceState::Loaded
                   : ServiceState::NotLoaded;
    }
    SystemBus* bus = SystemBus::shared();
    if (bus == nullptr) {
        return ServiceState::Unknown;
    }
    return unitStopped(*bus) ? ServiceState::NotLoaded : ServiceState::Loaded;
}

Result<void> switchSleepOverride(bool on) {
    if (!on) {
        const auto watcher = platform::watcherProcess();
        if (heldInhibitor >= 0) {
            ::close(heldInhibitor);
            heldInhibitor = -1;
        } else if (!isTheWatcher()) {
            // Only the watcher holds the inhibitor, and only its end closes the
            // descriptor: a restore run by anyone else gives sleep back by ending it.
            // The session record is gone by then, so a watcher that comes back restores.
            // A failed stop shows in the inhibitor readings the caller checks next.
            (void)stopRecoveryService();
        }
        const std::optional<pid_t> pid = watcher ? *watcher : std::nullopt;
        if (pid) {
            awaitInhibitorGone(*pid);
        }
        return {};
    }
    if (heldInhibitor >= 0) {
        return {};
    }
    SystemBus* bus = SystemBus::shared();
    if (bus == nullptr) {
        return noBus();
    }
    auto taken = platform::takeInhibitor(
        *bus, platform::Inhibitor{platform::overrideWhat, platform::overrideWho,
                                  platform::overrideWhy, platform::overrideMode});
    if (!taken) {
        return std::unexpected(taken.error());
    }
    heldInhibitor = *taken;
    return {};
}

// A root process has no safe way into the user's graphical session to blank its
// display; the desktop turns the panel off at the lid itself.
void putDisplayToSleep() {}

} // namespace vesperon
