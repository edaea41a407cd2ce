#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>

namespace vesperon::platform {

// What ended a wait of the recovery watcher.
enum class WakeReason {
    Timeout,       // the poll period passed: run every check
    ProcessExited, // the watched process has ended, collected by its parent or not
    FolderChanged, // an entry was created in, or moved into, the watched folder
};

// Lets the watcher sleep between its polls and still wake at once when the app dies
// or the stop file appears. The health test still decides what a wake-up means: a
// wake-up is a reason to run it early, never a verdict of its own. ProcessExited is
// also a fact for the application test: the handle names exactly the process the
// record names, so its end is that process's end, even while its parent has not yet
// collected it and its pid still answers signal 0.
//
// Each platform has its own: pidfd and inotify on Linux and on the sandboxed machine,
// kqueue (EVFILT_PROC / NOTE_EXIT, EVFILT_VNODE) on macOS. Nothing in the watched
// folder is opened or followed; the folder itself is opened without following a link.
class WatcherWakeups {
  public:
    virtual ~WatcherWakeups() = default;

    // Watches the process `pid`, which the session record names and which must have
    // started no later than `startedNoLaterThan` (seconds of the continuous clock, the
    // record's own measure of setup's moment). Checks once, when the handle is taken,
    // that the process is that one, so a reused pid is never watched; false when it
    // is not, is gone or cannot be watched (the caller then relies on its polls).
    virtual bool watchProcess(pid_t pid, double startedNoLaterThan) = 0;

    // Watches `folder` for entries created or moved in. False when the folder cannot
    // be watched (missing, a link, not a folder); the caller then relies on its polls.
    // Finding the folder asks its filesystem, which the user may have mounted and which
    // may never answer: the watcher calls this on a helper thread with a deadline, so
    // it may run, or finish late, while wait() sleeps on the watcher's own thread.
    virtual bool watchFolder(const std::string& folder) = 0;

    // Sleeps until one of the watched events or `timeout`, whichever comes first.
    virtual WakeReason wait(std::chrono::milliseconds timeout) = 0;
};

// This platform's wake-ups. Never null; with nothing watched, wait() only sleeps.
std::unique_ptr<WatcherWakeups> makeWatcherWakeups();

} // namespace vesperon::platform
