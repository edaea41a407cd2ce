#include "privileged/Watcher.hpp"

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/RootServices.hpp"
#include "platform/SystemLayout.hpp"
#include "platform/SystemProbes.hpp"
#include "privileged/RootLock.hpp"
#include "privileged/RootRestore.hpp"
#include "privileged/SessionHealth.hpp"
#include "privileged/SessionRecord.hpp"

namespace vesperon {
namespace {

constexpr std::chrono::milliseconds pollPeriod{2000};

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
    while (checkSessionHealth(*record, recordPath) == SessionHealth::Healthy) {
        const bool lidIsClosed = lidClosed();
        if (lidIsClosed && !lidWasClosed) {
            putDisplayToSleep();
        }
        lidWasClosed = lidIsClosed;
        std::this_thread::sleep_for(pollPeriod);
    }
    return endSession();
}

} // namespace vesperon
