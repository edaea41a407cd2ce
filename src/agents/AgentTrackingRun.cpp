#include "agents/AgentTrackingRun.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <tuple>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "agents/AgentEventFiles.hpp"
#include "common/AtomicFile.hpp"
#include "common/ErrorDomains.hpp"
#include "common/OwnedFd.hpp"
#include "common/SystemError.hpp"
#include "common/UntrustedJson.hpp"
#include "common/Uuid.hpp"
#include "platform/FileTimes.hpp"

namespace vesperon {

namespace {

using nlohmann::json;

std::unexpected<Error> trackingError(const char* message) {
    return fail(AgentTrackingRun::errorDomain, message);
}

void removeTree(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

// Removes one entry of an opened folder; a folder is removed with its contents.
// Errors are ignored: a poll never fails.
void removeEntry(int folder, const std::string& folderPath, const std::string& name) {
    if (unlinkat(folder, name.c_str(), 0) != 0 && (errno == EISDIR || errno == EPERM)) {
        removeTree(folderPath + "/" + name);
    }
}

// Creates `path` and any missing parents with mode 0700; existing folders are kept
// as they are.
std::optional<int> createFolders(const std::string& path) {
    std::size_t next = 0;
    while (next != std::string::npos) {
        next = path.find('/', next + 1);
        const std::string prefix = path.substr(0, next);
        if (prefix.empty() || mkdir(prefix.c_str(), 0700) == 0 || errno == EEXIST) {
            continue;
        }
        return errno;
    }
    return std::nullopt;
}

// Puts the names in the order their files were written, oldest first. When more
// events wait than one poll takes, the oldest go first: a session's later event must
// not be consumed before its earlier ones, or an ending seen before the work it ends
// would be dropped and the session left looking busy.
void oldestFirst(int folder, std::vector<std::string>& names) {
    // The listing position breaks ties, so files of the same time keep their order
    // (as a stable sort would, without its temporary buffer, which clang's C++23 mode
    // reports as deprecated).
    std::vector<std::pair<std::tuple<long long, long, std::size_t>, std::string>> dated;
    dated.reserve(names.size());
    for (std::string& name : names) {
        struct stat info {};
        const bool known = fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
        const timespec& modified = modificationTime(info);
        dated.emplace_back(
            std::make_tuple(known ? static_cast<long long>(modified.tv_sec) : LLONG_MAX,
                            known ? static_cast<long>(modified.tv_nsec) : 0L, dated.size()),
            std::move(name));
    }
    std::sort(dated.begin(), dated.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 0; i < names.size(); ++i) {
        names[i] = std::move(dated[i].second);
    }
}

std::vector<std::string> listFolder(int folder, bool& ok) {
    std::vector<std::string> names;
    ok = false;
    const int listing = dup(folder);
    if (listing < 0) {
        return names;
    }
    DIR* dir = fdopendir(listing);
    if (dir == nullptr) {
        close(listing);
        return names;
    }
    errno = 0;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
            if (names.size() > AgentTrackingRun::maximumEntries) {
                break; // too many already: no need to read the rest
            }
        }
        errno = 0;
    }
    ok = errno == 0;
    closedir(dir);
    return names;
}

// Run folders and descriptor drafts of earlier runs that were never disarmed (the
// application crashed or was killed) would otherwise stay forever; a hook process
// could even keep filling such a folder if another process of the user inherited the
// dead owner's process ID. Only names this layout uses are touched.
void removeAbandonedRuns(const std::string& rootPath, const std::string& currentRunID) {
    const OwnedFd root(open(rootPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!root || !AgentEventFiles::privateDirectoryHandle(root.get())) {
        return;
    }
    bool listed = false;
    const std::vector<std::string> names = listFolder(root.get(), listed);
    if (!listed || names.size() > AgentTrackingRun::maximumEntries) {
        return;
    }
    for (const std::string& name : names) {
        struct stat info {};
        if (fstatat(root.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            info.st_uid != getuid()) {
            continue;
        }
        if (S_ISDIR(info.st_mode) && name != currentRunID && Uuid::isValidText(name)) {
            std::string path = rootPath + "/";
            path += name;
            removeTree(path);
        } else if (S_ISREG(info.st_mode) && name.starts_with(".current.json.") &&
                   name.ends_with(".tmp")) {
            unlinkat(root.get(), name.c_str(), 0);
        }
    }
}

bool isActiveState(const std::string& state) {
    return state == "busy" || state == "waiting";
}

} // namespace

AgentTrackingRun::AgentTrackingRun(std::optional<std::string> rootFolder, Clock now,
                                   double graceSeconds)
    : rootFolder_(rootFolder ? std::move(*rootFolder) : AgentEventFiles::defaultFolder()),
      now_(now ? std::move(now) : Clock(&AgentEventFiles::wallClockNow)),
      graceSeconds_(std::isnan(graceSeconds) ? 0.0 : std::max(0.0, graceSeconds)) {}

AgentTrackingRun::~AgentTrackingRun() {
    disarm();
}

bool AgentTrackingRun::validSessionID(std::string_view sessionID) {
    return AgentEventFiles::validSessionID(sessionID);
}

std::string AgentTrackingRun::runFolder() const {
    return runID_ ? rootFolder_ + "/" + *runID_ : std::string();
}

Result<std::string> AgentTrackingRun::arm(const std::optional<std::string>& provider) {
    if (provider && !AgentEventFiles::supportedProvider(*provider)) {
        return trackingError("Unsupported agent provider.");
    }
    disarm();
    if (rootFolder_.empty() || rootFolder_[0] != '/') {
        return trackingError("Agent event folder must be private and owned by you.");
    }
    if (const std::optional<int> error = createFolders(rootFolder_)) {
        return systemError("Could not create the folder", rootFolder_, *error);
    }
    const OwnedFd root = AgentEventFiles::openPrivateDirectory(rootFolder_);
    if (!root) {
        return trackingError("Agent event folder must be private and owned by you.");
    }

    std::string runID = newUuidText();
    if (runID.empty()) {
        return fail(vesperon::errorDomain::system,
                    "The system gave no random numbers for a run ID.");
    }
    const std::string folder = rootFolder_ + "/" + runID;
    if (mkdirat(root.get(), runID.c_str(), 0700) != 0) {
        return systemError("Could not create the folder", folder, errno);
    }
    // From here on a failure must not leave the new run folder behind: nothing would
    // ever remove it.
    auto abandon = [&](std::unexpected<Error> error) -> Result<std::string> {
        removeTree(folder);
        return error;
    };

    const double startedAt = now_();
    std::string descriptor;
    try {
        descriptor =
            json{{"runID", runID}, {"startedAt", startedAt}, {"ownerPID", getpid()}}.dump();
    } catch (const json::exception& error) {
        return abandon(fail(errorDomain, error.what()));
    }

    const std::string name(AgentEventFiles::descriptorName);
    const std::string descriptorPath = rootFolder_ + "/" + name;
    struct stat existing {};
    if (fstatat(root.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
        !AgentEventFiles::readPrivateAt(root.get(), name, AgentEventFiles::descriptorMaximum)) {
        std::error_code removal;
        std::filesystem::remove_all(descriptorPath, removal);
        if (removal) {
            return abandon(systemError("Could not remove", descriptorPath, removal.value()));
        }
        return abandon(trackingError("Agent event descriptor is not a private regular file."));
    }

    const AtomicWrite draft{.attributes = FileAttributes{},
                            .durable = false,
                            .temporaryName = "." + name + "." + runID + ".tmp",
                            .beforeReplace = {}};
    if (auto written = writeFileAtomicallyAt(root.get(), name, descriptor, draft); !written) {
        return abandon(systemError("Could not write", descriptorPath, written.error().code));
    }

    removeAbandonedRuns(rootFolder_, runID);

    runID_ = runID;
    selectedProvider_ = provider;
    startedAt_ = startedAt;
    sessions_.clear();
    graceStarted_.reset();
    integrityFailure_ = false;
    return runID;
}

void AgentTrackingRun::disarm() noexcept {
    if (!runID_) {
        return;
    }
    try {
        removeRunFiles();
    } catch (...) {
        // Only running out of memory throws there. The files then stay until the next
        // run removes them as abandoned; tracking stops all the same.
        std::fputs("vesperon: the agent run's files are left for the next run to remove\n", stderr);
    }
    runID_.reset();
    selectedProvider_.reset();
    sessions_.clear();
    graceStarted_.reset();
}

void AgentTrackingRun::removeRunFiles() const {
    if (!runID_) {
        return;
    }
    if (const OwnedFd root = AgentEventFiles::openPrivateDirectory(rootFolder_)) {
        const std::string name(AgentEventFiles::descriptorName);
        if (const auto data = AgentEventFiles::readPrivateAt(root.get(), name,
                                                             AgentEventFiles::descriptorMaximum)) {
            const std::optional<json> descriptor =
                parseUntrustedJson(*data, AgentEventFiles::recordDepthLimit);
            if (descriptor && descriptor->is_object()) {
                const auto it = descriptor->find("runID");
                if (it != descriptor->end() && it->is_string() && *it == *runID_) {
                    unlinkat(root.get(), name.c_str(), 0);
                }
            }
        }
        if (AgentEventFiles::openPrivateDirectoryAt(root.get(), *runID_)) {
            removeTree(runFolder());
        }
    }
}

AgentTrackingSnapshot AgentTrackingRun::poll() {
    if (!runID_) {
        return snapshot(false);
    }
    const std::string folderPath = runFolder();
    const OwnedFd root = AgentEventFiles::openPrivateDirectory(rootFolder_);
    OwnedFd folder;
    if (root) {
        folder.reset(
            openat(root.get(), runID_->c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    if (!folder || !AgentEventFiles::privateDirectoryHandle(folder.get())) {
        integrityFailure_ = true;
        return snapshot(true);
    }
    bool listed = false;
    std::vector<std::string> names = listFolder(folder.get(), listed);
    if (!listed || names.size() > maximumEntries) {
        integrityFailure_ = true;
        return snapshot(true);
    }
    if (names.size() > entriesPerPoll) {
        oldestFirst(folder.get(), names);
    }

    const double now = now_();
    std::vector<Event> accepted;
    const std::size_t examined = std::min(names.size(), entriesPerPoll);
    for (std::size_t i = 0; i < examined; ++i) {
        const std::string& name = names[i];
        const std::size_t dot = name.rfind('.');
        const std::string_view base = std::string_view(name).substr(0, dot);
        const std::string_view extension =
            dot == std::string::npos ? std::string_view() : std::string_view(name).substr(dot + 1);
        const bool uuidName = Uuid::isValidText(base);
        if (uuidName && extension == "tmp") {
            continue; // a hook process is still writing it
        }
        std::optional<AgentEventRecord> event;
        if (uuidName && extension == "json") {
            if (const auto data = AgentEventFiles::readPrivateAt(folder.get(), name,
                                                                 AgentEventFiles::eventMaximum)) {
                event = AgentEventFiles::parseEventRecord(*data);
            }
        }
        if (!event) {
            integrityFailure_ = true;
            removeEntry(folder.get(), folderPath, name);
            continue;
        }
        if (event->runID != *runID_ || event->timestamp < startedAt_ ||
            event->timestamp > now + AgentEventFiles::futureToleranceSeconds ||
            (selectedProvider_ && *selectedProvider_ != event->provider)) {
            removeEntry(folder.get(), folderPath, name);
            continue;
        }
        accepted.push_back(Event{accepted.size(), name, event->provider + ":" + event->sessionID,
                                 std::move(event->state), event->timestamp});
    }

    // Oldest first; events with equal timestamps keep their listing order.
    std::sort(accepted.begin(), accepted.end(), [](const Event& a, const Event& b) {
        return a.timestamp < b.timestamp || (a.timestamp == b.timestamp && a.order < b.order);
    });
    for (const Event& event : accepted) {
        apply(event);
        removeEntry(folder.get(), folderPath, event.name);
    }

    if (names.size() > entriesPerPoll) {
        graceStarted_.reset();
        return snapshot(true, false);
    }
    if (quiet()) {
        if (!graceStarted_) {
            graceStarted_ = now_();
        }
    } else {
        graceStarted_.reset();
    }
    return snapshot(true);
}

void AgentTrackingRun::apply(const Event& event) {
    const auto existing = sessions_.find(event.key);
    if (existing != sessions_.end() && existing->second.timestamp > event.timestamp) {
        return; // out of order: never roll a session back
    }
    if (existing == sessions_.end() && sessions_.size() >= maximumSessions) {
        integrityFailure_ = true;
        return;
    }
    if (event.state == "busy") {
        sessions_[event.key] = Session{"busy", event.timestamp, true};
        graceStarted_.reset();
    } else if (event.state == "waiting") {
        const bool sawBusy = existing != sessions_.end() && existing->second.sawBusy;
        sessions_[event.key] = Session{"waiting", event.timestamp, sawBusy};
        graceStarted_.reset();
    } else if (existing != sessions_.end() && existing->second.sawBusy) {
        // idle, failed or ended: only a session seen working during this run can end it.
        existing->second = Session{event.state, event.timestamp, true};
    }
}

bool AgentTrackingRun::quiet() const {
    // A run whose folder was tampered with never finishes: snapshot() decides that.
    if (sessions_.empty()) {
        return false;
    }
    return std::none_of(sessions_.begin(), sessions_.end(),
                        [](const auto& entry) { return isActiveState(entry.second.state); });
}

AgentTrackingSnapshot AgentTrackingRun::snapshot(bool armed, bool drained) const {
    AgentTrackingSnapshot result;
    for (const auto& [key, session] : sessions_) {
        result.busyCount += session.state == "busy" ? 1 : 0;
        result.waitingCount += session.state == "waiting" ? 1 : 0;
    }
    result.trackedCount = static_cast<int>(sessions_.size());
    const double now = now_();
    result.shouldFinish = armed && drained && !integrityFailure_ && graceStarted_ &&
                          now - *graceStarted_ >= graceSeconds_;
    result.ready = armed && !integrityFailure_;
    if (!armed) {
        result.summary = AgentTrackingSnapshot::offSummary;
    } else if (integrityFailure_) {
        result.summary = AgentTrackingSnapshot::interruptedSummary;
    } else if (result.waitingCount >= 1) {
        result.summary = AgentTrackingSnapshot::waitingSummary;
    } else if (result.busyCount >= 1) {
        result.summary = AgentTrackingSnapshot::workingSummary;
    } else if (sessions_.empty() && now - startedAt_ >= silenceHintSeconds) {
        result.summary = AgentTrackingSnapshot::silentSummary;
    } else if (sessions_.empty()) {
        result.summary = AgentTrackingSnapshot::expectingSummary;
    } else {
        result.summary = AgentTrackingSnapshot::finishedTurnSummary;
    }
    return result;
}

} // namespace vesperon
