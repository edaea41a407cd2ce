#include "privileged/SetupMode.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/stat.h>

#include "common/AtomicFile.hpp"
#include "common/ErrorDomains.hpp"
#include "platform/ContinuousClock.hpp"
#include "platform/PlatformWords.hpp"
#include "platform/RootServices.hpp"
#include "platform/RunningImage.hpp"
#include "platform/SystemLayout.hpp"
#include "platform/SystemProbes.hpp"
#include "privileged/JobFile.hpp"
#include "privileged/RootLock.hpp"
#include "privileged/RootRestore.hpp"
#include "privileged/SessionRecord.hpp"

namespace vesperon {
namespace {

bool entryExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// Says why on standard error; the exit status of a refused or failed setup.
int refuse(std::string_view line) {
    (void)std::fwrite(line.data(), 1, line.size(), stderr);
    return 1;
}

Result<void> installSession(const SetupRequest& request, const std::string& bootID) {
    const SystemLayout& layout = systemLayout();
    if (::mkdir(layout.rootDir.c_str(), 0700) != 0) {
        return fail(errorDomain::system,
                    "Could not create " + layout.rootDir + ": " + std::strerror(errno), errno);
    }
    // The watcher is this very program: the name we were started by is the caller's
    // choice and may name any file.
    if (auto copied = copyFileAtomically(runningImagePath(), layout.watcherPath(),
                                         FileAttributes{0700, 0, 0});
        !copied) {
        return copied;
    }
    Session session;
    session.pid = request.pid;
    session.deadline = wallClockSeconds() + request.seconds;
    session.heartbeat = request.heartbeatPath;
    session.stop = request.stopPath;
    session.previous = false;
    session.timing =
        SessionTiming{SessionTiming::currentVersion, bootID, continuousSeconds(), request.seconds};
    if (auto saved = saveSession(session); !saved) {
        return saved;
    }
    if (auto written = writeJobFile(layout); !written) {
        return written;
    }
    return startRecoveryService();
}

} // namespace

int setupMode(const SetupRequest& request) {
    (void)rootLock(); // held until the process exits

    const SystemLayout& layout = systemLayout();
    const std::optional<bool> overrideOn = sleepDisabled();
    if (entryExists(layout.rootDir) || entryExists(layout.jobPath) || overrideOn == true) {
        return refuse("A sleep override or recovery job already exists. Use Restore normal "
                      "sleep first.\n");
    }
    if (!overrideOn) {
        return refuse("Setup failed: " + std::string(platformWords::sleepSettingUnreadable) + "\n");
    }
    const std::optional<std::string> bootID = currentBootID();
    if (!bootID) {
        return refuse("Setup failed: Could not read the identifier of this boot.\n");
    }
    // A job still loaded without its files is the remains of a watcher that was ended
    // between removing them and unloading itself: its program is gone, so it can only
    // fail and be restarted. Unload it, or refuse if it will not go. (A service tool
    // that cannot answer at all is left to the bootstrap below to report.)
    if (recoveryServiceState() == ServiceState::Loaded) {
        (void)stopRecoveryService(); // the state read next says whether it worked
        if (recoveryServiceState() != ServiceState::NotLoaded) {
            return refuse("A sleep override or recovery job already exists. Use Restore "
                          "normal sleep first.\n");
        }
    }

    if (auto installed = installSession(request, *bootID); !installed) {
        // Take down whatever got started, and clean up only once the job is known to
        // be gone and sleep is known to be normal; otherwise a started watcher keeps
        // the files to restore from, and "--restore" can clear them later.
        (void)stopRecoveryService(); // the state read next says whether it worked
        if (recoveryServiceState() == ServiceState::NotLoaded && rootRestore(false)) {
            (void)cleanupJob();
        }
        return refuse("Setup failed: " + installed.error().message + "\n");
    }

    std::fputs("READY\n", stdout);
    std::fflush(stdout);
    return 0;
}

} // namespace vesperon
