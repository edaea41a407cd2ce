#include "platform/linux/DetachedService.hpp"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "common/AtomicFile.hpp"
#include "common/ErrorDomains.hpp"
#include "platform/linux/KernelAttribute.hpp"
#include "platform/linux/ProcessStat.hpp"

namespace vesperon::platform {
namespace {

using namespace std::chrono_literals;
constexpr auto throttleInterval = 5s;
constexpr auto termGrace = 5s;
constexpr auto killGrace = 2s;
constexpr auto pollStep = 50ms;
constexpr const char* supervisorName = "vesperon-watch";

// The supervisor as its pid file records it.
struct SupervisorRecord {
    pid_t pid = 0;
    std::uint64_t startTime = 0;
    dev_t device = 0;
    ino_t inode = 0;

    [[nodiscard]] std::string text() const {
        return std::to_string(pid) + " " + std::to_string(startTime) + " " +
               std::to_string(device) + " " + std::to_string(inode) + "\n";
    }
};

std::optional<SupervisorRecord> readRecord(const std::string& pidFile) {
    const auto text = readKernelAttribute(pidFile);
    if (!text) {
        return std::nullopt;
    }
    // Four numbers, each followed by one space but the last.
    SupervisorRecord record;
    const char* next = text->data();
    const char* const end = text->data() + text->size();
    const auto number = [&](auto& value, bool last) {
        const auto [stop, error] = std::from_chars(next, end, value);
        if (error != std::errc() || stop == next ||
            (last ? stop != end : stop == end || *stop != ' ')) {
            return false;
        }
        next = last ? stop : stop + 1;
        return true;
    };
    if (!number(record.pid, false) || !number(record.startTime, false) ||
        !number(record.device, false) || !number(record.inode, true) || record.pid < 2) {
        return std::nullopt;
    }
    return record;
}

// The record of the running process `pid`.
std::optional<SupervisorRecord> recordOf(pid_t pid) {
    const auto stat = readProcessStat(pid);
    struct stat executable {};
    if (!stat || ::stat(("/proc/" + std::to_string(pid) + "/exe").c_str(), &executable) != 0) {
        return std::nullopt;
    }
    return SupervisorRecord{pid, stat->startTicks, executable.st_dev, executable.st_ino};
}

// Whether the recorded supervisor is alive: its id names a live process that started
// when it did and runs its executable. Whoever may not look at another's executable
// (not root) goes by the start time alone, which no reuse of the id within this boot
// can repeat.
bool isRunning(const SupervisorRecord& record) {
    const auto stat = readProcessStat(record.pid);
    if (!stat || !stat->live() || stat->startTicks != record.startTime ||
        stat->group != record.pid) {
        return false;
    }
    struct stat executable {};
    if (::stat(("/proc/" + std::to_string(record.pid) + "/exe").c_str(), &executable) != 0) {
        return errno == EACCES || errno == EPERM;
    }
    return executable.st_dev == record.device && executable.st_ino == record.inode;
}

// The live processes that `test` picks from /proc.
template <class Test> std::vector<pid_t> processesWhere(Test test) {
    std::vector<pid_t> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        pid_t pid = 0;
        const auto [end, parsed] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (parsed != std::errc() || end != name.data() + name.size()) {
            continue;
        }
        if (const auto stat = readProcessStat(pid); stat && stat->live() && test(*stat)) {
            found.push_back(pid);
        }
    }
    return found;
}

// Once its leader was recognised, a group's id cannot be taken by another process
// while any member lives: every process in it is ours.
bool groupAlive(pid_t group) {
    return !processesWhere([group](const ProcessStat& stat) {
                return stat.group == group;
            }).empty();
}

bool waitForGroupEnd(pid_t group, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (groupAlive(group)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(pollStep);
    }
    return true;
}

bool fileMissing(const char* path) {
    struct stat info {};
    return ::stat(path, &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

// The supervisor's own end: its record goes with it, unless it names another by now.
[[noreturn]] void endSupervisor(const std::string& pidFile) {
    if (const auto record = readRecord(pidFile); record && record->pid == ::getpid()) {
        (void)::unlink(pidFile.c_str());
    }
    ::_exit(0);
}

[[noreturn]] void supervise(const std::vector<std::string>& arguments, const std::string& pidFile) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t supervisor = ::getpid();
    for (;;) {
        // A program that is gone cannot come back by itself: running it again every
        // 5 seconds would only fail forever.
        if (fileMissing(argv[0])) {
            endSupervisor(pidFile);
        }
        const auto started = std::chrono::steady_clock::now();
        const pid_t child = ::fork();
        if (child == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM, 0, 0, 0);
            if (::getppid() != supervisor) {
                ::_exit(1);
            }
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        if (child > 0) {
            int status = 0;
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
                endSupervisor(pidFile);
            }
        }
        std::this_thread::sleep_until(started + throttleInterval);
    }
}

} // namespace

Result<void> startDetachedService(const std::vector<std::string>& arguments,
                                  const std::string& pidFile) {
    const pid_t supervisor = ::fork();
    if (supervisor < 0) {
        return fail(errorDomain::system,
                    std::string("Could not start the recovery watcher: ") + std::strerror(errno),
                    errno);
    }
    if (supervisor == 0) {
        // Nothing of the caller's survives: not its session, not its lock, not the
        // pipe its own caller reads to the end.
        ::setsid();
        const int null = ::open("/dev/null", O_RDWR);
        for (int stream = 0; stream <= 2; ++stream) {
            ::dup2(null, stream);
        }
        ::close_range(3, ~0U, 0);
        ::signal(SIGPIPE, SIG_DFL);
        ::prctl(PR_SET_NAME, supervisorName, 0, 0, 0);
        supervise(arguments, pidFile);
    }
    // Our child cannot vanish before we wait for it: its /proc entry is there to read.
    const auto record = recordOf(supervisor);
    auto written = record ? writeFileAtomically(pidFile, record->text(), {0644, {}, {}})
                          : Result<void>(fail(errorDomain::system, "", ESRCH));
    if (!written) {
        // The supervisor by its own id, as its group is only there once it has called
        // setsid(); then the group, for a watcher it may have started by now.
        ::kill(supervisor, SIGKILL);
        ::kill(-supervisor, SIGKILL);
        while (::waitpid(supervisor, nullptr, 0) < 0 && errno == EINTR) {
        }
        return fail(errorDomain::system,
                    "Could not record the recovery watcher in " + pidFile + ": " +
                        std::strerror(written.error().code),
                    written.error().code);
    }
    return {};
}

bool detachedServiceRunning(const std::string& pidFile) {
    const auto record = readRecord(pidFile);
    return record && isRunning(*record);
}

Result<std::optional<pid_t>> detachedServiceProcess(const std::string& pidFile) {
    const auto record = readRecord(pidFile);
    if (!record || !isRunning(*record)) {
        return std::optional<pid_t>();
    }
    const auto children = processesWhere([&record](const ProcessStat& stat) {
        return stat.parent == record->pid && stat.group == record->pid;
    });
    return children.empty() ? std::optional<pid_t>() : std::optional<pid_t>(children.front());
}

Result<void> stopDetachedService(const std::string& pidFile) {
    const auto record = readRecord(pidFile);
    if (!record || !isRunning(*record)) {
        return fail(errorDomain::system, "The recovery watcher is not running", ESRCH);
    }
    // The record goes first: when the watcher ends its own service, the signal below
    // ends it too, and nothing after it runs.
    (void)::unlink(pidFile.c_str());
    const pid_t group = record->pid;
    ::kill(-group, SIGTERM);
    if (!waitForGroupEnd(group, termGrace)) {
        ::kill(-group, SIGKILL);
        if (!waitForGroupEnd(group, killGrace)) {
            // Best effort: the group that would not end is the failure to report.
            (void)writeFileAtomically(pidFile, record->text(), {0644, {}, {}});
            return fail(errorDomain::system, "The recovery watcher would not end", EBUSY);
        }
    }
    return {};
}

} // namespace vesperon::platform
