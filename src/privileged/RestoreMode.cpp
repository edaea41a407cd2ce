#include "privileged/RestoreMode.hpp"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/RootServices.hpp"
#include "platform/SystemLayout.hpp"
#include "privileged/RootLock.hpp"
#include "privileged/RootRestore.hpp"

namespace vesperon {
namespace {

bool entryExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

} // namespace

int restoreMode() {
    (void)rootLock(); // held until the process exits
    const SystemLayout& layout = systemLayout();

    // The steps are ordered so that a restore interrupted at any point leaves someone
    // responsible for sleep. First the record goes: a watcher that is still loaded
    // then ends the session itself as soon as we let go of the lock, and a relaunched
    // one restores through the missing-record path.
    (void)::unlink(layout.sessionRecordPath().c_str());

    // Then sleep comes back, while the watcher is still there to retry should we fail.
    if (!rootRestore(false)) {
        // A job file that is not loaded gets its watcher back, so that it keeps trying.
        if (entryExists(layout.jobPath) && recoveryServiceState() == ServiceState::NotLoaded) {
            (void)startRecoveryService(); // the failure below is reported either way
        }
        std::fputs("Could not restore normal sleep. Recovery files were retained.\n", stderr);
        return 1;
    }

    // Only with sleep back is the watcher unloaded, and only then do its files go.
    (void)stopRecoveryService(); // the state read next says whether it worked
    if (recoveryServiceState() != ServiceState::NotLoaded) {
        std::fputs("Could not confirm the recovery watcher stopped. Recovery files were "
                   "retained.\n",
                   stderr);
        return 1;
    }
    if (!cleanupJob()) {
        return 1;
    }
    std::fputs("RESTORED\n", stdout);
    std::fflush(stdout);
    return 0;
}

} // namespace vesperon
