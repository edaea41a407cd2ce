// The watcher's wake-ups on a Linux kernel (the Linux platform and the sandboxed
// machine): a pidfd for the application's process and an inotify watch on the session
// folder, both waited for with one poll().
#include "platform/WatcherWakeups.hpp"

#include <array>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "common/OwnedFd.hpp"
#include "platform/ContinuousClock.hpp"
#include "platform/SuspendCountingClock.hpp"
#include "platform/linux/ProcessStat.hpp"

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434 // the same number on every architecture
#endif

namespace vesperon::platform {
namespace {

// The start of `pid` in seconds of continuousSeconds(). The kernel dates a process on
// CLOCK_BOOTTIME; the sandboxed machine's continuous clock adds an offset to that
// clock (its simulated sleep). The process's age is measured on CLOCK_BOOTTIME and
// taken from the continuous clock now, which uses today's offset: a simulated sleep
// since the process started makes it look younger than it is, never older, so a
// process started after setup is never taken for one started before.
std::optional<double> continuousStarted(pid_t pid) {
    const auto stat = readProcessStat(pid);
    const auto started = stat ? stat->startSeconds() : std::nullopt;
    if (!started) {
        return std::nullopt;
    }
    const double age = suspendCountingSeconds() - *started;
    return vesperon::continuousSeconds() - age;
}

class PidfdInotifyWakeups final : public WatcherWakeups {
  public:
    PidfdInotifyWakeups() : inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

    bool watchProcess(pid_t pid, double startedNoLaterThan) override {
        if (pid < 2) {
            return false;
        }
        OwnedFd process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
        if (!process) {
            return false; // gone already, or a kernel without pidfds
        }
        // Read after the descriptor is held: should the pid have been reused in
        // between, this reads the newcomer's start, which is after setup.
        const auto started = continuousStarted(pid);
        if (!started || !(*started <= startedNoLaterThan)) {
            return false;
        }
        process_ = std::move(process);
        return true;
    }

    bool watchFolder(const std::string& folder) override {
        // Runs on the caller's helper thread while wait() may already sleep: it only
        // adds a watch to the descriptor made at construction.
        if (!inotify_) {
            return false;
        }
        constexpr std::uint32_t mask = IN_CREATE | IN_MOVED_TO | IN_ONLYDIR | IN_DONT_FOLLOW;
        return ::inotify_add_watch(inotify_.get(), folder.c_str(), mask) >= 0;
    }

    WakeReason wait(std::chrono::milliseconds timeout) override {
        std::array<pollfd, 2> fds{{{process_.get(), POLLIN, 0}, {inotify_.get(), POLLIN, 0}}};
        // A negative descriptor is skipped by poll().
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(timeout.count()));
        if (ready <= 0) {
            return WakeReason::Timeout; // also an interrupted wait: the caller polls
        }
        if (fds[0].revents != 0) {
            // An ended process stays readable: reported once, then no longer watched.
            process_.reset();
            return WakeReason::ProcessExited;
        }
        drainEvents();
        return WakeReason::FolderChanged;
    }

  private:
    // Empties the queue so that a burst of entries is one wake-up; the events are
    // never looked at (the health test decides from the folder itself).
    void drainEvents() const {
        alignas(inotify_event) std::array<char, 4096> buffer{};
        while (::read(inotify_.get(), buffer.data(), buffer.size()) > 0) {
        }
    }

    OwnedFd inotify_;
    OwnedFd process_;
};

} // namespace

std::unique_ptr<WatcherWakeups> makeWatcherWakeups() {
    return std::make_unique<PidfdInotifyWakeups>();
}

} // namespace vesperon::platform
