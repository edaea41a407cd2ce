#include "privileged/SessionHealth.hpp"

#include <csignal>
#include <memory>
#include <optional>

#include <sys/stat.h>

#include "platform/ContinuousClock.hpp"
#include "platform/FileTimes.hpp"
#include "platform/SystemProbes.hpp"
#include "privileged/BoundedCalls.hpp"

namespace vesperon {
namespace {

bool processExists(std::int32_t pid) {
    // kill() with 0 or a negative id would test a whole process group and succeed;
    // no owner of a session has such an id.
    if (pid < 2) {
        return false;
    }
    return ::kill(pid, 0) == 0;
}

// What the health test reads in the user's folder.
struct FolderFacts {
    bool stopExists = false;
    std::optional<struct stat> heartbeat; // nothing when its attributes cannot be read
};

// The stop file's and the heartbeat's attributes, neither followed through a symbolic
// link. The folder is the user's, on whatever filesystem the user put there, so the
// look is bounded; nothing when it did not answer in time.
std::optional<FolderFacts> lookIntoFolder(const Session& session) {
    auto facts = std::make_shared<FolderFacts>();
    const bool answered =
        userFolderCalls().run([facts, stop = session.stop, heartbeat = session.heartbeat] {
            struct stat info {};
            facts->stopExists = ::lstat(stop.c_str(), &info) == 0;
            if (!facts->stopExists && ::lstat(heartbeat.c_str(), &info) == 0) {
                facts->heartbeat = info;
            }
        });
    if (!answered) {
        return std::nullopt;
    }
    return *facts;
}

} // namespace

SessionHealth checkSessionHealth(const LoadedSession& record, const std::string& recordPath,
                                 bool applicationEnded) {
    const auto bytesNow = readSessionBytes(recordPath);
    if (!bytesNow || *bytesNow != record.bytes) {
        return SessionHealth::RecordChanged;
    }
    const Session& session = record.session;
    if (!session.timing) {
        return SessionHealth::TimeUp;
    }
    const auto left = session.timing->remaining(continuousSeconds(), currentBootID());
    if (!left || !(*left > 0)) {
        return SessionHealth::TimeUp;
    }
    if (applicationEnded || !processExists(session.pid)) {
        return SessionHealth::ApplicationGone;
    }
    const auto folder = lookIntoFolder(session);
    if (!folder) {
        // The user's filesystem did not answer in time: the heartbeat cannot be read.
        return SessionHealth::HeartbeatUnreadable;
    }
    if (folder->stopExists) {
        return SessionHealth::StopRequested;
    }
    if (!folder->heartbeat) {
        return SessionHealth::HeartbeatUnreadable;
    }
    if (!SessionTiming::heartbeatFresh(wallClockSeconds() - modifiedSeconds(*folder->heartbeat))) {
        return SessionHealth::HeartbeatStale;
    }
    if (!batterySafe()) {
        return SessionHealth::BatteryUnsafe;
    }
    if (thermalState() >= seriousThermalState) {
        return SessionHealth::TooHot;
    }
    return SessionHealth::Healthy;
}

const char* describe(SessionHealth health) {
    switch (health) {
    case SessionHealth::Healthy:
        return "healthy";
    case SessionHealth::RecordChanged:
        return "record changed";
    case SessionHealth::TimeUp:
        return "time up";
    case SessionHealth::ApplicationGone:
        return "application gone";
    case SessionHealth::StopRequested:
        return "stop requested";
    case SessionHealth::HeartbeatUnreadable:
        return "heartbeat unreadable";
    case SessionHealth::HeartbeatStale:
        return "heartbeat stale";
    case SessionHealth::BatteryUnsafe:
        return "battery unsafe";
    case SessionHealth::TooHot:
        return "too hot";
    }
    return "unknown";
}

} // namespace vesperon
