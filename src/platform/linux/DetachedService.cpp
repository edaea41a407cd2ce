#include "platform/linux/DetachedService.hpp"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "common/AtomicFile.hpp"
#include "common/ErrorDomains.hpp"
#include "platform/linux/KernelAttribute.hpp"

namespace vesperon::platform {
namespace {

using namespace std::chrono_literals;
constexpr auto throttleInterval = 5s;
constexpr auto termGrace = 5s;
constexpr auto killGrace = 2s;
constexpr auto pollStep = 50ms;

std::optional<pid_t> recordedGroup(const std::string& pidFile) {
    const auto value = readKernelInteger(pidFile);
    if (!value || *value < 2 || *value > 0x3fffffff) {
        return std::nullopt;
    }
    return static_cast<pid_t>(*value);
}

// The supervisor names itself so; the watcher's name is that of its executable. A
// recorded group whose live members bear neither name is not ours (its id was reused
// after ours ended), and is neither reported nor signalled.
constexpr const char* supervisorName = "vesperon-watch";
constexpr const char* watcherName = "watcher";

// Whether /proc/<pid>/stat shows a live process of ours in group `group`.
bool liveMemberOf(const std::filesystem::path& process, pid_t group) {
    const auto stat = readKernelAttribute((process / "stat").string());
    if (!stat) {
        return false;
    }
    // "pid (comm) state ppid pgrp ...": comm may hold anything, so read after the last ')'.
    const std::size_t open = stat->find('(');
    const std::size_t close = stat->rfind(')');
    if (open == std::string::npos || close == std::string::npos || open > close ||
        close + 2 >= stat->size()) {
        return false;
    }
    const std::string name = stat->substr(open + 1, close - open - 1);
    if (name != supervisorName && name != watcherName) {
        return false;
    }
    const char state = (*stat)[close + 2];
    const std::size_t ppidEnd = stat->find(' ', close + 4);
    if (ppidEnd == std::string::npos) {
        return false;
    }
    pid_t pgrp = 0;
    const char* begin = stat->data() + ppidEnd + 1;
    const auto [end, error] = std::from_chars(begin, stat->data() + stat->size(), pgrp);
    return error == std::errc() && pgrp == group && state != 'Z' && state != 'X';
}

bool groupAlive(pid_t group) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (!name.empty() && name.front() >= '1' && name.front() <= '9' &&
            liveMemberOf(entry.path(), group)) {
            return true;
        }
    }
    return false;
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

[[noreturn]] void supervise(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    for (;;) {
        const auto started = std::chrono::steady_clock::now();
        const pid_t child = ::fork();
        if (child == 0) {
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        if (child > 0) {
            int status = 0;
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
                ::_exit(0);
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
        supervise(arguments);
    }
    if (auto written =
            writeFileAtomically(pidFile, std::to_string(supervisor) + "\n", {0644, {}, {}});
        !written) {
        ::kill(-supervisor, SIGKILL);
        return fail(errorDomain::system,
                    "Could not record the recovery watcher in " + pidFile + ": " +
                        std::strerror(written.error().code),
                    written.error().code);
    }
    return {};
}

bool detachedServiceRunning(const std::string& pidFile) {
    const auto group = recordedGroup(pidFile);
    return group && groupAlive(*group);
}

Result<void> stopDetachedService(const std::string& pidFile) {
    const auto group = recordedGroup(pidFile);
    if (!group || !groupAlive(*group)) {
        return fail(errorDomain::system, "The recovery watcher is not running", ESRCH);
    }
    // When the watcher ends its own service, this signal ends it too.
    ::kill(-*group, SIGTERM);
    if (!waitForGroupEnd(*group, termGrace)) {
        ::kill(-*group, SIGKILL);
        if (!waitForGroupEnd(*group, killGrace)) {
            return fail(errorDomain::system, "The recovery watcher would not end", EBUSY);
        }
    }
    std::error_code ignored;
    std::filesystem::remove(pidFile, ignored);
    return {};
}

} // namespace vesperon::platform
