#include "privileged/SetupMode.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "platform/SystemLayout.hpp"
#include "privileged/AtomicFile.hpp"
#include "privileged/ContinuousClock.hpp"
#include "privileged/JobFile.hpp"
#include "privileged/RootLock.hpp"
#include "privileged/RootRestore.hpp"
#include "privileged/SessionRecord.hpp"
#include "privileged/SystemCommands.hpp"
#include "privileged/SystemProbes.hpp"

namespace vesperon {
namespace {

bool entryExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// The file to copy as the watcher: the path we were started by when it is absolute;
// otherwise (a relative path, or a bare name found through PATH, which cannot be
// resolved from here) the running image itself.
std::string executableToCopy(const std::string& executable) {
    if (executable.starts_with('/')) {
        return executable;
    }
    return "/proc/self/exe";
}

// One line, so the caller can show the description as it is.
std::string singleLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    std::string line;
    for (const char c : text) {
        if (c == '\n') {
            line += "; ";
        } else if (c != '\r') {
            line += c;
        }
    }
    return line;
}

Result<void> installSession(const SetupRequest& request, const std::string& executable,
                            const std::string& bootID) {
    const SystemLayout& layout = systemLayout();
    if (::mkdir(layout.rootDir.c_str(), 0700) != 0) {
        return fail("NSPOSIXErrorDomain",
                    "Could not create " + layout.rootDir + ": " + std::strerror(errno), errno);
    }
    if (auto copied = copyFileAtomically(executableToCopy(executable), layout.watcherPath(),
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
    const ToolResult bootstrap = bootstrapJob();
    if (bootstrap.status != 0) {
        const std::string output = singleLine(bootstrap.output);
        return fail(output,
                    "launchctl bootstrap failed with status " + std::to_string(bootstrap.status) +
                        (output.empty() ? std::string(".") : ": " + output),
                    bootstrap.status);
    }
    return {};
}

} // namespace

int setupMode(const SetupRequest& request, const std::string& executable) {
    (void)rootLock(); // held until the process exits

    const SystemLayout& layout = systemLayout();
    const bool remainsPresent = entryExists(layout.rootDir) || entryExists(layout.jobPath);
    const std::optional<bool> overrideOn = remainsPresent ? std::nullopt : sleepDisabled();
    const std::optional<std::string> bootID =
        remainsPresent || overrideOn != false ? std::nullopt : currentBootID();
    if (remainsPresent || overrideOn != false || !bootID) {
        std::fputs("A sleep override or recovery job already exists. Use Restore normal sleep "
                   "first.\n",
                   stderr);
        return 1;
    }

    if (auto installed = installSession(request, executable, *bootID); !installed) {
        // Take down whatever got started, and clean up only once the job is known to
        // be gone and sleep is known to be normal; otherwise a started watcher keeps
        // the files to restore from, and "--restore" can clear them later.
        (void)bootoutJob();
        if (printJobStatus() == jobNotLoadedStatus && rootRestore(false)) {
            (void)cleanupJob();
        }
        const std::string line = "Setup failed: " + installed.error().message + "\n";
        std::fputs(line.c_str(), stderr);
        return 1;
    }

    std::fputs("READY\n", stdout);
    std::fflush(stdout);
    return 0;
}

} // namespace vesperon
