#include "privileged/RestoreMode.hpp"

#include <cstdio>
#include <sys/stat.h>

#include "platform/SystemLayout.hpp"
#include "privileged/RootLock.hpp"
#include "privileged/RootRestore.hpp"
#include "privileged/SystemCommands.hpp"

namespace vesperon {

int restoreMode() {
    (void)rootLock(); // held until the process exits

    (void)bootoutJob();
    if (printJobStatus() != jobNotLoadedStatus) {
        std::fputs("Could not confirm the recovery watcher stopped. Recovery files were "
                   "retained.\n",
                   stderr);
        return 1;
    }
    if (!rootRestore(false)) {
        // Put the watcher back so that it keeps trying to restore sleep.
        struct stat info {};
        if (::lstat(systemLayout().jobPath.c_str(), &info) == 0) {
            (void)bootstrapJob();
        }
        std::fputs("Could not restore normal sleep. Recovery files were retained.\n", stderr);
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
