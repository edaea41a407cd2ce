// The watcher's wake-ups on a Linux kernel (the Linux platform and the sandboxed
// machine): a pidfd for the application's process and an inotify watch on the session
// folder, both waited for with one poll().
#include "platform/WatcherWakeups.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "common/DescriptorIO.hpp"
#include "common/OwnedFd.hpp"
#include "platform/ContinuousClock.hpp"

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434 // the same number on every architecture
#endif

namespace vesperon::platform {
namespace {

constexpr std::size_t maxStatBytes = 4096;

double clockSeconds(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The process's start in seconds of CLOCK_BOOTTIME: field 22 of /proc/PID/stat, in
// clock ticks since boot. The name (field 2) may hold spaces and parentheses, so the
// fields are counted from its last ")".
std::optional<double> bootTimeStarted(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    OwnedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) {
        return std::nullopt;
    }
    const auto text = readToEnd(fd.get(), maxStatBytes);
    if (!text) {
        return std::nullopt;
    }
    const std::size_t nameEnd = text->rfind(')');
    if (nameEnd == std::string::npos) {
        return std::nullopt;
    }
    std::string_view rest = std::string_view(*text).substr(nameEnd + 1);
    // After the name come field 3 (state) ... field 22 (starttime): skip 19 fields.
    for (int field = 3; field < 22; ++field) {
        const std::size_t start = rest.find_first_not_of(' ');
        const std::size_t end = rest.find(' ', start);
        if (start == std::string_view::npos || end == std::string_view::npos) {
            return std::nullopt;
        }
        rest.remove_prefix(end);
    }
    rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
    unsigned long long ticks = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), ticks);
    const long perSecond = ::sysconf(_SC_CLK_TCK);
    if (error != std::errc() || end == rest.data() || perSecond <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(ticks) / static_cast<double>(perSecond);
}

// The start of `pid` in seconds of continuousSeconds(). The kernel dates a process on
// CLOCK_BOOTTIME; the sandboxed machine's continuous clock adds an offset to that
// clock (its simulated sleep). The process's age is measured on CLOCK_BOOTTIME and
// taken from the continuous clock now, which uses today's offset: a simulated sleep
// since the process started makes it look younger than it is, never older, so a
// process started after setup is never taken for one started before.
std::optional<double> continuousStarted(pid_t pid) {
    const auto started = bootTimeStarted(pid);
    if (!started) {
        return std::nullopt;
    }
    const double age = clockSeconds(CLOCK_BOOTTIME) - *started;
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
