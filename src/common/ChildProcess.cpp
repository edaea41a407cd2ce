#include "common/ChildProcess.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/CloseOnExec.hpp"
#include "common/SystemError.hpp"

extern char** environ;

namespace vesperon {
namespace {

// Reading stops after this much once the child has ended: everything it wrote is
// in the pipe by then, which holds far less; a descendant that keeps the pipe open
// and writing cannot hold us up.
constexpr std::size_t runningDrainBudget = std::size_t{64} * 1024;
constexpr int pollIntervalMs = 50;

int millisecondsUntil(ChildProcess::Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - ChildProcess::Clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(std::min<long long>(left.count() + 1, 60'000));
}

// Writing to a pipe whose reader is gone raises SIGPIPE, which would end the whole
// process. While this guard lives the signal is blocked for this thread, and a
// SIGPIPE raised meanwhile is taken off the thread's pending set again.
class SigpipeGuard {
  public:
    SigpipeGuard() {
        sigemptyset(&pipeOnly_);
        sigaddset(&pipeOnly_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeOnly_, &previous_);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;
    ~SigpipeGuard() {
        sigset_t pending;
        sigpending(&pending);
        if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
            const timespec zero{};
            while (sigtimedwait(&pipeOnly_, nullptr, &zero) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }

  private:
    sigset_t pipeOnly_{};
    sigset_t previous_{};
    bool wasPending_ = false;
};

// Spawn attributes and file actions, released on every way out.
class SpawnSetup {
  public:
    SpawnSetup() {
        actionsReady_ = ::posix_spawn_file_actions_init(&actions_) == 0;
        attributesReady_ = ::posix_spawnattr_init(&attributes_) == 0;
        status_ = actionsReady_ && attributesReady_ ? 0 : ENOMEM;
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    ~SpawnSetup() {
        if (actionsReady_) {
            ::posix_spawn_file_actions_destroy(&actions_);
        }
        if (attributesReady_) {
            ::posix_spawnattr_destroy(&attributes_);
        }
    }

    // Keeps the first failure.
    void check(int status) {
        if (status_ == 0) {
            status_ = status;
        }
    }
    [[nodiscard]] int status() const { return status_; }

    void connect(const ChildSpec& spec, int inputFd, int outputFd) {
        if (spec.input == ChildSpec::Input::None) {
            check(::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY,
                                                     0));
        } else if (spec.input == ChildSpec::Input::Pipe) {
            check(::posix_spawn_file_actions_adddup2(&actions_, inputFd, STDIN_FILENO));
        }
#ifdef POSIX_SPAWN_CLOEXEC_DEFAULT
        if (spec.input == ChildSpec::Input::Inherit) {
            check(::posix_spawn_file_actions_addinherit_np(&actions_, STDIN_FILENO));
        }
#endif
        if (spec.output == ChildSpec::Output::None) {
            check(::posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, "/dev/null",
                                                     O_WRONLY, 0));
        } else {
            check(::posix_spawn_file_actions_adddup2(&actions_, outputFd, STDOUT_FILENO));
        }
        if (spec.output == ChildSpec::Output::Combined) {
            check(::posix_spawn_file_actions_adddup2(&actions_, outputFd, STDERR_FILENO));
        } else if (spec.errorPath.empty()) {
            check(::posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, "/dev/null",
                                                     O_WRONLY, 0));
        } else {
            check(::posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO,
                                                     spec.errorPath.c_str(),
                                                     O_WRONLY | O_CREAT | O_APPEND, 0600));
        }
        // Nothing else of ours (sockets, locks) leaks into the child: where the system
        // has it, the spawn closes every descriptor not named (isolate()); elsewhere it
        // closes all above the standard three.
#if !defined(POSIX_SPAWN_CLOEXEC_DEFAULT) && defined(__GLIBC__) &&                                 \
    (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
        check(::posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1));
#endif
        if (!spec.workingFolder.empty()) {
            check(::posix_spawn_file_actions_addchdir_np(&actions_, spec.workingFolder.c_str()));
        }
    }

    // Its own process group, default signal handling and nothing blocked, whatever
    // this process ignores or blocks.
    void isolate() {
        sigset_t none;
        sigemptyset(&none);
        sigset_t all;
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        check(::posix_spawnattr_setsigmask(&attributes_, &none));
        check(::posix_spawnattr_setsigdefault(&attributes_, &all));
        check(::posix_spawnattr_setpgroup(&attributes_, 0));
        int flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP;
#ifdef POSIX_SPAWN_CLOEXEC_DEFAULT
        flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
        check(::posix_spawnattr_setflags(&attributes_, static_cast<short>(flags)));
    }

    const posix_spawn_file_actions_t* actions() const {
        return &actions_;
    }
    const posix_spawnattr_t* attributes() const {
        return &attributes_;
    }

  private:
    posix_spawn_file_actions_t actions_{};
    posix_spawnattr_t attributes_{};
    bool actionsReady_ = false;
    bool attributesReady_ = false;
    int status_ = 0;
};

struct Pipe {
    OwnedFd read;
    OwnedFd write;
};

Result<Pipe> makePipe() {
    int fds[2];
    if (pipeCloseOnExec(fds) != 0) {
        return systemError("Could not create a pipe", "", errno);
    }
    return Pipe{OwnedFd(fds[0]), OwnedFd(fds[1])};
}

void makeNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
}

std::vector<char*> pointersTo(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    pointers.reserve(words.size() + 1);
    for (std::string& word : words) {
        pointers.push_back(word.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

int ChildProcess::Outcome::exitCodeOrSignal() const {
    if (!waitStatus) {
        return -1;
    }
    return WIFSIGNALED(*waitStatus) ? WTERMSIG(*waitStatus) : WEXITSTATUS(*waitStatus);
}

double ChildProcess::steadySeconds() {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

ChildProcess::ChildProcess(pid_t pid, OwnedFd input, OwnedFd output)
    : pid_(pid), input_(std::move(input)), output_(std::move(output)) {}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), input_(std::move(other.input_)),
      output_(std::move(other.output_)) {}

ChildProcess::~ChildProcess() {
    if (running()) {
        (void)stop();
    }
}

Result<ChildProcess> ChildProcess::start(const ChildSpec& spec) {
    Pipe input;
    Pipe output;
    if (spec.input == ChildSpec::Input::Pipe) {
        auto made = makePipe();
        if (!made) {
            return std::unexpected(made.error());
        }
        input = std::move(*made);
    }
    if (spec.output != ChildSpec::Output::None) {
        auto made = makePipe();
        if (!made) {
            return std::unexpected(made.error());
        }
        output = std::move(*made);
    }

    std::vector<std::string> words;
    words.reserve(spec.arguments.size() + 1);
    words.push_back(spec.path);
    words.insert(words.end(), spec.arguments.begin(), spec.arguments.end());
    std::vector<char*> argv = pointersTo(words);
    std::vector<std::string> environmentWords;
    std::vector<char*> environment;
    if (spec.environment) {
        environmentWords = *spec.environment;
        environment = pointersTo(environmentWords);
    }

    pid_t pid = -1;
    {
        SpawnSetup setup;
        setup.connect(spec, input.read.get(), output.write.get());
        setup.isolate();
        if (setup.status() != 0) {
            return systemError("Could not launch", spec.path, setup.status());
        }
        const int spawned =
            ::posix_spawn(&pid, spec.path.c_str(), setup.actions(), setup.attributes(), argv.data(),
                          spec.environment ? environment.data() : environ);
        if (spawned != 0) {
            return systemError("Could not launch", spec.path, spawned);
        }
    }
    // The child holds its own ends now.
    input.read.reset();
    output.write.reset();
    if (input.write) {
        makeNonBlocking(input.write.get());
    }
    if (output.read) {
        makeNonBlocking(output.read.get());
    }
    return ChildProcess(pid, std::move(input.write), std::move(output.read));
}

bool ChildProcess::send(std::string_view data, Clock::time_point deadline) {
    if (!input_) {
        return false;
    }
    const SigpipeGuard guard;
    while (!data.empty()) {
        const ssize_t written = ::write(input_.get(), data.data(), data.size());
        if (written > 0) {
            data.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        pollfd ready{input_.get(), POLLOUT, 0};
        const int wait = millisecondsUntil(deadline);
        if (wait == 0 || (::poll(&ready, 1, wait) < 0 && errno != EINTR)) {
            return false;
        }
    }
    return true;
}

std::size_t ChildProcess::receive(char* buffer, std::size_t capacity, Clock::time_point deadline) {
    if (!output_) {
        return 0;
    }
    while (true) {
        const ssize_t got = ::read(output_.get(), buffer, capacity);
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return 0;
        }
        pollfd ready{output_.get(), POLLIN, 0};
        const int wait = millisecondsUntil(deadline);
        if (wait == 0 || (::poll(&ready, 1, wait) < 0 && errno != EINTR)) {
            return 0;
        }
    }
}

bool ChildProcess::exited() const {
    if (!running()) {
        return true;
    }
    siginfo_t info{};
    // Looks without reaping, so the group id stays ours.
    const int looked = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
    return (looked == 0 && info.si_pid == pid_) || (looked < 0 && errno == ECHILD);
}

void ChildProcess::signalGroup(int signal) const {
    if (running()) {
        ::kill(-pid_, signal);
    }
}

std::optional<int> ChildProcess::reap() {
    if (!running()) {
        return std::nullopt;
    }
    signalGroup(SIGKILL);
    int status = 0;
    pid_t reaped = 0;
    do {
        reaped = ::waitpid(pid_, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    pid_ = -1;
    input_.reset();
    output_.reset();
    if (reaped <= 0) {
        return std::nullopt;
    }
    return status;
}

std::optional<int> ChildProcess::stop(std::chrono::milliseconds grace) {
    if (!running()) {
        return std::nullopt;
    }
    input_.reset();
    signalGroup(SIGTERM);
    const auto giveUp = Clock::now() + grace;
    while (!exited() && Clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return reap();
}

ChildProcess::Outcome ChildProcess::collect(const Limits& limits) {
    Outcome outcome;
    bool ended = !output_;
    // Reads what is buffered now, at most `budget` bytes, so that a child that writes
    // without pause cannot keep us from watching the clock.
    const auto drain = [&](std::size_t budget, int waitMs) {
        if (ended) {
            if (waitMs > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
            }
            return;
        }
        if (waitMs > 0) {
            pollfd entry{output_.get(), POLLIN, 0};
            if (::poll(&entry, 1, waitMs) <= 0) {
                return;
            }
        }
        char buffer[16384];
        std::size_t consumed = 0;
        while (!ended && consumed < budget) {
            const ssize_t n = ::read(output_.get(), buffer, sizeof buffer);
            if (n > 0) {
                const auto count = static_cast<std::size_t>(n);
                consumed += count;
                const std::size_t room = limits.maxOutputBytes - outcome.output.size();
                outcome.output.append(buffer, std::min(count, room));
            } else if (n == 0) {
                ended = true;
            } else if (errno != EINTR) {
                ended = errno != EAGAIN && errno != EWOULDBLOCK;
                return;
            }
        }
    };

    const double deadline = limits.now() + limits.seconds;
    while (!exited() && limits.now() < deadline) {
        drain(runningDrainBudget, pollIntervalMs);
    }
    if (!exited()) {
        outcome.timedOut = true;
        signalGroup(SIGTERM);
        const auto giveUp = Clock::now() + limits.grace;
        while (!exited() && Clock::now() < giveUp) {
            drain(runningDrainBudget, 10);
        }
    }
    drain(4 * std::max<std::size_t>(limits.maxOutputBytes, runningDrainBudget), 0);
    outcome.waitStatus = reap();
    return outcome;
}

} // namespace vesperon
