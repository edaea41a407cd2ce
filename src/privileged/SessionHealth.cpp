#include "privileged/SessionHealth.hpp"

#include <cerrno>
#include <signal.h>
#include <sys/stat.h>

#include "platform/ContinuousClock.hpp"
#include "platform/FileTimes.hpp"
#include "platform/SystemProbes.hpp"

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

} // namespace

SessionHealth checkSessionHealth(const LoadedSession& record, const std::string& recordPath) {
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
    if (!processExists(session.pid)) {
        return SessionHealth::ApplicationGone;
    }
    // Neither file is followed through a symbolic link: they lie in the user's folder.
    struct stat info {};
    if (::lstat(session.stop.c_str(), &info) == 0) {
        return SessionHealth::StopRequested;
    }
    if (::lstat(session.heartbeat.c_str(), &info) != 0) {
        return SessionHealth::HeartbeatUnreadable;
    }
    if (!SessionTiming::heartbeatFresh(wallClockSeconds() - modifiedSeconds(info))) {
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
