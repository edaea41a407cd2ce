#include "tasks/LocalTaskRunner.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/Utf8Text.hpp"
#include "platform/SystemLayout.hpp"
#include "platform/UserHome.hpp"

extern char** environ;

namespace vesperon {

namespace {

constexpr const char* posixDomain = "NSPOSIXErrorDomain";

Error posixError(int code) {
    return Error{posixDomain, code, std::strerror(code)};
}

// Spawn attributes and file actions, released on every path out of launch().
struct SpawnSetup {
    posix_spawnattr_t attributes{};
    posix_spawn_file_actions_t actions{};
    bool haveAttributes = false;
    bool haveActions = false;

    ~SpawnSetup() {
        if (haveActions) {
            posix_spawn_file_actions_destroy(&actions);
        }
        if (haveAttributes) {
            posix_spawnattr_destroy(&attributes);
        }
    }

    int prepare(const std::string& homeFolder) {
        if (int rc = posix_spawnattr_init(&attributes); rc != 0) {
            return rc;
        }
        haveAttributes = true;
        if (int rc = posix_spawn_file_actions_init(&actions); rc != 0) {
            return rc;
        }
        haveActions = true;
        // The command leads a new process group (its id is the child's pid). It also
        // starts with default signal handling and nothing blocked, as from a terminal,
        // whatever the application itself ignores or blocks.
        sigset_t all;
        sigset_t none;
        sigfillset(&all);
        sigemptyset(&none);
        const short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
        int rc = posix_spawnattr_setflags(&attributes, flags);
        if (rc == 0) {
            rc = posix_spawnattr_setpgroup(&attributes, 0);
        }
        if (rc == 0) {
            rc = posix_spawnattr_setsigdefault(&attributes, &all);
        }
        if (rc == 0) {
            rc = posix_spawnattr_setsigmask(&attributes, &none);
        }
        // No input; output and errors discarded.
        if (rc == 0) {
            rc = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        }
        if (rc == 0) {
            rc = posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        }
        if (rc == 0) {
            rc = posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
        // The application's other descriptors (sockets, locks) stay out of the command.
        if (rc == 0) {
            rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        }
#endif
        if (rc == 0) {
            rc = posix_spawn_file_actions_addchdir_np(&actions, homeFolder.c_str());
        }
        return rc;
    }
};

std::int32_t exitCodeOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return 255;
}

} // namespace

LocalTaskRunner::LocalTaskRunner(Scheduler& scheduler, std::string shellPath,
                                 std::string homeFolder)
    : scheduler_(scheduler), shellPath_(std::move(shellPath)), homeFolder_(std::move(homeFolder)) {}

LocalTaskRunner::LocalTaskRunner(Scheduler& scheduler)
    : LocalTaskRunner(scheduler, systemLayout().shellPath, userHomeFolder()) {}

LocalTaskRunner::~LocalTaskRunner() {
    stopPolling();
    if (pid_ <= 0) {
        return;
    }
    // The child is not reaped yet, so its pid (and the group id) cannot have been reused.
    ::kill(-pid_, SIGKILL);
    // SIGKILL cannot be caught: the child is gone within moments. Reap it without
    // blocking the main thread for long; a child stuck in the kernel beyond that is
    // left to the system.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const pid_t reaped = ::waitpid(pid_, nullptr, WNOHANG);
        if (reaped != 0 && !(reaped < 0 && errno == EINTR)) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool LocalTaskRunner::acceptsCommand(std::string_view command) {
    if (command.size() > maxCommandBytes || command.find('\0') != std::string_view::npos) {
        return false;
    }
    const auto trimmed = trimWhiteSpace(command);
    return trimmed && !trimmed->empty();
}

Result<void> LocalTaskRunner::launch(std::string_view command, Completion completion) {
    if (isRunning() || !acceptsCommand(command)) {
        return fail(errorDomain, commandError);
    }
    if (homeFolder_.empty()) {
        return std::unexpected(posixError(ENOENT));
    }
    SpawnSetup setup;
    if (int rc = setup.prepare(homeFolder_); rc != 0) {
        return std::unexpected(posixError(rc));
    }
    std::string shell = shellPath_;
    std::string dashC = "-c";
    std::string text(command);
    char* argv[] = {shell.data(), dashC.data(), text.data(), nullptr};
    pid_t child = 0;
    if (int rc = ::posix_spawn(&child, shellPath_.c_str(), &setup.actions, &setup.attributes, argv,
                               environ);
        rc != 0) {
        return std::unexpected(posixError(rc));
    }
    pid_ = child;
    completion_ = std::move(completion);
    // The destructor cancels the timer, so the poll never outlives the runner.
    poller_ = scheduler_.every(pollSeconds, [this] { checkExit(); });
    return {};
}

void LocalTaskRunner::cancel() {
    if (pid_ <= 0) {
        return;
    }
    completion_ = nullptr;
    ::kill(-pid_, SIGKILL);
}

void LocalTaskRunner::stopPolling() {
    if (poller_ != 0) {
        scheduler_.cancel(poller_);
        poller_ = 0;
    }
}

void LocalTaskRunner::checkExit() {
    if (pid_ <= 0) {
        return;
    }
    // Look without reaping first: while the exited child is a zombie its pid, and so
    // its process group id, cannot be reused, so the group kill reaches only what the
    // command left behind.
    siginfo_t info{};
    const int looked = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
    std::int32_t exitCode = 255;
    if (looked == 0 && info.si_pid == pid_) {
        ::kill(-pid_, SIGKILL);
        int status = 0;
        pid_t reaped = 0;
        do {
            reaped = ::waitpid(pid_, &status, 0);
        } while (reaped < 0 && errno == EINTR);
        if (reaped == pid_) {
            exitCode = exitCodeOf(status);
        }
    } else if (looked < 0 && errno == ECHILD) {
        // Someone else reaped the child: its status is lost.
        ::kill(-pid_, SIGKILL);
    } else {
        return; // still running, or a transient failure: look again at the next poll
    }
    pid_ = 0;
    stopPolling();
    Completion done = std::move(completion_);
    completion_ = nullptr;
    // Last: the completion may launch another command or destroy this runner.
    if (done) {
        done(exitCode);
    }
}

} // namespace vesperon
