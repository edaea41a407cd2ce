#include "platform/ToolRunner.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "common/Utf8Text.hpp"
#include "platform/ContinuousClock.hpp"

extern char** environ;

namespace vesperon {
namespace {

constexpr double timeLimitSeconds = 10.0;
constexpr int pollIntervalMs = 50;
constexpr std::chrono::milliseconds terminateGrace{200};
// The tools we run print a few lines; anything beyond this is read and dropped so
// that a chatty tool can neither block on a full pipe nor exhaust memory.
constexpr std::size_t maxOutputBytes = 1 << 20;
constexpr std::size_t runningDrainBudget = 64 * 1024;
constexpr std::size_t finalDrainBudget = 4 * maxOutputBytes;

// The read end of the child's output pipe. It is drained while the child runs, so a
// tool that prints more than the pipe holds does not stall waiting for us.
class OutputPipe {
  public:
    explicit OutputPipe(int readFd) : fd_(readFd) {}
    OutputPipe(const OutputPipe&) = delete;
    OutputPipe& operator=(const OutputPipe&) = delete;
    ~OutputPipe() { ::close(fd_); }

    // Waits up to `milliseconds` for output and collects what is there.
    void waitAndDrain(int milliseconds) {
        if (ended_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
            return;
        }
        pollfd entry{fd_, POLLIN, 0};
        const int ready = ::poll(&entry, 1, milliseconds);
        if (ready > 0) {
            drain();
        }
    }

    // Reads what is buffered now, at most `budget` bytes, so that a tool that writes
    // without pause cannot keep us from watching the clock. Once the child has exited
    // everything it wrote is in the pipe (which holds far less than the final budget);
    // a descendant that keeps the pipe open and writing cannot hold us up.
    void drain(std::size_t budget = runningDrainBudget) {
        char buffer[16384];
        std::size_t consumed = 0;
        while (!ended_ && consumed < budget) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                const auto count = static_cast<std::size_t>(n);
                consumed += count;
                if (collected_.size() < maxOutputBytes) {
                    collected_.append(buffer, std::min(count, maxOutputBytes - collected_.size()));
                }
            } else if (n == 0) {
                ended_ = true;
            } else if (errno != EINTR) {
                if (errno != EAGAIN && errno != EWOULDBLOCK) {
                    ended_ = true;
                }
                return;
            }
        }
    }

    std::string take() { return std::move(collected_); }

  private:
    int fd_;
    bool ended_ = false;
    std::string collected_;
};

// Collects the child's status without blocking; true once it has ended.
bool reaped(pid_t pid, int& status) {
    for (;;) {
        int raw = 0;
        const pid_t result = ::waitpid(pid, &raw, WNOHANG);
        if (result == pid) {
            status = WIFSIGNALED(raw) ? WTERMSIG(raw) : WEXITSTATUS(raw);
            return true;
        }
        if (result == 0) {
            return false;
        }
        if (errno != EINTR) {
            status = -1; // already collected elsewhere: nothing more to learn
            return true;
        }
    }
}

// Spawn attributes: default signal handling and an empty signal mask in the child,
// whatever the caller had, and no descriptor of ours beyond the three standard ones.
class SpawnSetup {
  public:
    SpawnSetup(int outputFd) {
        ::posix_spawn_file_actions_init(&actions_);
        ::posix_spawnattr_init(&attributes_);
        ::posix_spawn_file_actions_adddup2(&actions_, outputFd, STDOUT_FILENO);
        ::posix_spawn_file_actions_adddup2(&actions_, outputFd, STDERR_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
        ::posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
#endif
        sigset_t none;
        sigemptyset(&none);
        sigset_t all;
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        ::posix_spawnattr_setsigmask(&attributes_, &none);
        ::posix_spawnattr_setsigdefault(&attributes_, &all);
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#if defined(__APPLE__)
        flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
        ::posix_spawn_file_actions_addinherit_np(&actions_, STDIN_FILENO);
#endif
        ::posix_spawnattr_setflags(&attributes_, flags);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&actions_);
        ::posix_spawnattr_destroy(&attributes_);
    }

    const posix_spawn_file_actions_t* actions() const {
        return &actions_;
    }
    const posix_spawnattr_t* attributes() const {
        return &attributes_;
    }

  private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

ToolResult launchFailure(const std::string& path, int error) {
    return ToolResult{-1, "Could not launch " + path + ": " + std::strerror(error)};
}

} // namespace

ToolResult run(const std::string& path, const std::vector<std::string>& arguments) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return launchFailure(path, errno);
    }
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    OutputPipe output(fds[0]);

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    pid_t pid = -1;
    int spawnError = 0;
    {
        const SpawnSetup setup(fds[1]);
        spawnError = ::posix_spawn(&pid, path.c_str(), setup.actions(), setup.attributes(),
                                   argv.data(), environ);
    }
    ::close(fds[1]);
    if (spawnError != 0) {
        return launchFailure(path, spawnError);
    }

    int status = -1;
    const double deadline = continuousSeconds() + timeLimitSeconds;
    bool ended = reaped(pid, status);
    while (!ended && continuousSeconds() < deadline) {
        output.waitAndDrain(pollIntervalMs);
        ended = reaped(pid, status);
    }
    if (!ended) {
        ::kill(pid, SIGTERM);
        const auto graceEnd = std::chrono::steady_clock::now() + terminateGrace;
        while (!ended && std::chrono::steady_clock::now() < graceEnd) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                graceEnd - std::chrono::steady_clock::now());
            output.waitAndDrain(static_cast<int>(std::clamp<long long>(left.count(), 1, 20)));
            ended = reaped(pid, status);
        }
        if (!ended) {
            ::kill(pid, SIGKILL);
        }
    }
    while (!ended) {
        output.waitAndDrain(pollIntervalMs);
        ended = reaped(pid, status);
    }
    output.drain(finalDrainBudget);

    std::string text = output.take();
    if (!isValidUtf8(text)) {
        text.clear();
    }
    return ToolResult{status, std::move(text)};
}

} // namespace vesperon
