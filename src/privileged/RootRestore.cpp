#include "privileged/RootRestore.hpp"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/RootServices.hpp"
#include "platform/SystemLayout.hpp"
#include "platform/SystemProbes.hpp"

namespace vesperon {
namespace {

constexpr int restoreAttempts = 5;
constexpr std::chrono::milliseconds pauseAfterFailedAttempt{1000};

// Whether anything, even a dangling symbolic link, occupies `path`.
bool entryExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// Temporary files that an interrupted atomic write of the job file left beside it:
// "." + the job file's name + "." + six characters.
std::vector<std::string> leftoverJobTemporaries(const std::string& jobPath) {
    const std::filesystem::path job(jobPath);
    const std::string prefix = "." + job.filename().string() + ".";
    std::vector<std::string> found;
    std::error_code error;
    for (std::filesystem::directory_iterator it(job.parent_path(), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() == prefix.size() + 6 && name.starts_with(prefix)) {
            found.push_back(it->path().string());
        }
    }
    return found;
}

bool cleanupFailed(const std::string& path, const std::error_code& error) {
    const std::string line = "Sleep restored, but recovery cleanup failed: Could not remove " +
                             path + ": " + error.message() + "\n";
    std::fputs(line.c_str(), stderr);
    return false;
}

} // namespace

bool rootRestore(bool wanted) {
    for (int attempt = 0; attempt < restoreAttempts; ++attempt) {
        if (switchSleepOverride(wanted) && sleepDisabled() == wanted) {
            return true;
        }
        std::this_thread::sleep_for(pauseAfterFailedAttempt);
    }
    return false;
}

bool cleanupJob() {
    const SystemLayout& layout = systemLayout();
    std::error_code error;
    // The files go first and the loaded job last: when the watcher itself cleans up,
    // the unload ends its own process, and by then nothing is left to remove.
    if (entryExists(layout.jobPath)) {
        std::filesystem::remove(layout.jobPath, error);
        if (error) {
            return cleanupFailed(layout.jobPath, error);
        }
    }
    for (const std::string& leftover : leftoverJobTemporaries(layout.jobPath)) {
        std::filesystem::remove(leftover, error);
        if (error) {
            return cleanupFailed(leftover, error);
        }
    }
    if (entryExists(layout.rootDir)) {
        std::filesystem::remove_all(layout.rootDir, error);
        if (error) {
            return cleanupFailed(layout.rootDir, error);
        }
    }
    if (stopRecoveryService()) {
        return true;
    }
    if (recoveryServiceState() == ServiceState::NotLoaded) {
        return true;
    }
    std::fputs("Sleep restored, but could not unload recovery watcher.\n", stderr);
    return false;
}

} // namespace vesperon
