#pragma once

#include <string>

#include "privileged/SessionRecord.hpp"

namespace vesperon {

// The outcome of the watcher's health test: healthy, or the first test that failed.
enum class SessionHealth {
    Healthy,
    RecordChanged,       // the record file is gone or its bytes differ from those read at start
    TimeUp,              // no timing, timing not trusted (other boot...), or no time left
    ApplicationGone,     // the owning process no longer exists
    StopRequested,       // the stop file exists
    HeartbeatUnreadable, // the heartbeat file's attributes cannot be read
    HeartbeatStale,      // the heartbeat is 20 s old or more, or dated in the future
    BatteryUnsafe,       // on battery at 15 % or less, or no internal battery
    TooHot,              // thermal state serious or critical
};

// Runs the eight tests in order against the machine now. Starts no process: it reads
// one small file and the attributes of two others, tests the pid with signal 0, and
// asks the clock, boot identifier, battery and thermal state in-process. The two
// attributes lie in the user's folder and are read on a helper thread, waited for at
// most `userFolderBound`: a folder that does not answer by then (a filesystem the user
// mounted that never replies) counts as an unreadable heartbeat, so the record, time
// and application tests, which come first, and the end of the session never wait on
// the user's filesystem for longer than that.
// `applicationEnded`: the watcher has seen the application's process end (its wake-up
// for that process, which cannot be fooled by a reused pid). A process that has ended
// but not been collected by its parent yet still answers signal 0, so this settles
// the third test at once.
SessionHealth checkSessionHealth(const LoadedSession& record, const std::string& recordPath,
                                 bool applicationEnded = false);

const char* describe(SessionHealth health);

} // namespace vesperon
