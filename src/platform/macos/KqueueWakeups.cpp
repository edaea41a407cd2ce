// The watcher's wake-ups on a Mac: one kqueue with the app's exit (EVFILT_PROC,
// NOTE_EXIT) and writes to the session folder (EVFILT_VNODE, NOTE_WRITE: an entry
// created, removed or renamed). A kqueue is not inherited across fork, and nothing
// registered is followed beyond the two.
#include "platform/WatcherWakeups.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <sys/event.h>
#include <sys/stat.h>
#include <sys/sysctl.h>
#include <thread>

#include "common/OwnedFd.hpp"
#include "platform/ContinuousClock.hpp"
#include "platform/ProcessStart.hpp"

namespace vesperon::platform {
namespace {

// When the kernel says `pid` started, by the wall clock; nothing when it does not say.
std::optional<double> startedWallSeconds(pid_t pid) {
    int name[] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid};
    kinfo_proc info{};
    std::size_t length = sizeof info;
    if (::sysctl(name, 4, &info, &length, nullptr, 0) != 0 || length != sizeof info ||
        info.kp_proc.p_pid != pid) {
        return std::nullopt;
    }
    const timeval& start = info.kp_proc.p_starttime;
    return static_cast<double>(start.tv_sec) + static_cast<double>(start.tv_usec) / 1e6;
}

class KqueueWakeups final : public WatcherWakeups {
  public:
    KqueueWakeups() : queue_(::kqueue()) {}

    bool watchProcess(pid_t pid, double startedNoLaterThan) override {
        const auto started = startedWallSeconds(pid);
        if (!queue_ || !started ||
            !startedNoLater(*started, wallClockSeconds(), continuousSeconds(),
                            startedNoLaterThan)) {
            return false;
        }
        struct kevent change {};
        EV_SET(&change, static_cast<uintptr_t>(pid), EVFILT_PROC, EV_ADD | EV_ONESHOT, NOTE_EXIT, 0,
               nullptr);
        // ESRCH: already gone. An exit between the start-time reading and the
        // registration is not reported, hence the check right after.
        if (::kevent(queue_.get(), &change, 1, nullptr, 0, nullptr) != 0) {
            return false;
        }
        return ::kill(pid, 0) == 0 || errno == EPERM;
    }

    bool watchFolder(const std::string& folder) override {
        // O_EVTONLY: opened for events only, so the folder's volume can still be
        // unmounted; never through a link.
        OwnedFd directory(::open(folder.c_str(), O_EVTONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat info {};
        if (!queue_ || !directory || ::fstat(directory.get(), &info) != 0 ||
            !S_ISDIR(info.st_mode)) {
            return false;
        }
        struct kevent change {};
        EV_SET(&change, static_cast<uintptr_t>(directory.get()), EVFILT_VNODE, EV_ADD | EV_CLEAR,
               NOTE_WRITE, 0, nullptr);
        if (::kevent(queue_.get(), &change, 1, nullptr, 0, nullptr) != 0) {
            return false;
        }
        folder_ = std::move(directory); // closing the earlier one drops its registration
        return true;
    }

    WakeReason wait(std::chrono::milliseconds timeout) override {
        const auto wanted = timeout.count() > 0 ? timeout : std::chrono::milliseconds(0);
        if (!queue_) {
            std::this_thread::sleep_for(wanted);
            return WakeReason::Timeout;
        }
        const timespec limit{static_cast<time_t>(wanted.count() / 1000),
                             static_cast<long>(wanted.count() % 1000) * 1000000L};
        struct kevent event {};
        // A signal or an error wakes early as a timeout would: the caller runs its checks.
        if (::kevent(queue_.get(), nullptr, 0, &event, 1, &limit) != 1) {
            return WakeReason::Timeout;
        }
        return event.filter == EVFILT_PROC ? WakeReason::ProcessExited : WakeReason::FolderChanged;
    }

  private:
    OwnedFd queue_;
    OwnedFd folder_;
};

} // namespace

std::unique_ptr<WatcherWakeups> makeWatcherWakeups() {
    return std::make_unique<KqueueWakeups>();
}

} // namespace vesperon::platform
