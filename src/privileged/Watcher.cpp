#include "privileged/Watcher.hpp"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/RootServices.hpp"
#include "platform/SystemLayout.hpp"
#include "platform/SystemProbes.hpp"
#include "platform/WatcherWakeups.hpp"
#include "privileged/BoundedCalls.hpp"
#include "privileged/RootLock.hpp"
#include "privileged/RootRestore.hpp"
#include "privileged/SessionHealth.hpp"
#include "privileged/SessionRecord.hpp"

namespace vesperon {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds pollPeriod{2000};

// Wake-ups for the application's end and for new entries in the session folder (the
// stop file). Whatever cannot be watched is left to the polls. The folder is the
// user's: it is watched under the same bound as the health test's look into it.
std::shared_ptr<platform::WatcherWakeups> watchSession(const Session& session) {
    std::shared_ptr<platform::WatcherWakeups> wakeups = platform::makeWatcherWakeups();
    if (session.timing) {
        (void)wakeups->watchProcess(session.pid, session.timing->started);
    }
    const std::string folder = std::filesystem::path(session.stop).parent_path();
    (void)userFolderCalls().run([wakeups, folder] { (void)wakeups->watchFolder(folder); });
    return wakeups;
}

// Sleeps until `due`; a wake-up on the way runs the health test at once. False as
// soon as a test fails. `applicationEnded` becomes true once the application's end
// has woken us: from then on the application counts as gone, even while its parent
// has not yet collected it.
bool healthyUntil(Clock::time_point due, platform::WatcherWakeups& wakeups,
                  const LoadedSession& record, const std::string& recordPath,
                  bool& applicationEnded) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now());
        if (left.count() <= 0) {
            return true;
        }
        const platform::WakeReason reason = wakeups.wait(left);
        if (reason == platform::WakeReason::Timeout) {
            continue;
        }
        applicationEnded = applicationEnded || reason == platform::WakeReason::ProcessExited;
        if (checkSessionHealth(record, recordPath, applicationEnded) != SessionHealth::Healthy) {
            return false;
        }
    }
}

// Restores normal sleep and removes the session; the lock is held until exit.
int endSession() {
    (void)rootLock();
    if (!rootRestore(false)) {
        // The root state and the job stay; launchd starts us again to retry.
        std::fputs("Could not restore normal sleep; recovery will retry.\n", stderr);
        return 1;
    }
    return cleanupJob() ? 0 : 1;
}

} // namespace

int watchMode() {
    const std::string recordPath = systemLayout().sessionRecordPath();
    const auto record = loadSession(recordPath);
    if (!record) {
        (void)rootLock();
        std::fputs("Missing or invalid recovery state; restoring normal sleep.\n", stderr);
        // Without normal sleep back the job must stay, so that we are started again.
        return rootRestore(false) && cleanupJob() ? 0 : 1;
    }

    const auto wakeups = watchSession(record->session);
    const int lock = rootLock();
    if (checkSessionHealth(*record, recordPath) != SessionHealth::Healthy) {
        rootUnlock(lock);
        return endSession();
    }
    if (!switchSleepOverride(true)) {
        return 1; // launchd starts us again while the session stays healthy
    }
    rootUnlock(lock);

    bool lidWasClosed = false;
    bool applicationEnded = false;
    while (checkSessionHealth(*record, recordPath, applicationEnded) == SessionHealth::Healthy) {
        const bool lidIsClosed = lidClosed();
        if (lidIsClosed && !lidWasClosed) {
            putDisplayToSleep();
        }
        lidWasClosed = lidIsClosed;
        if (!healthyUntil(Clock::now() + pollPeriod, *wakeups, *record, recordPath,
                          applicationEnded)) {
            break;
        }
    }
    return endSession();
}

} // namespace vesperon
