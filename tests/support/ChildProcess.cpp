#include "ChildProcess.hpp"

#include "FileContents.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vesperon::testing {
namespace {

// Forks a child with standard input from /dev/null, output to `out` (or /dev/null),
// error to `err` (or ours), `report` as descriptor 3 and its own process group when
// `grouped`; the child execs argv with our environment plus `extra`.
pid_t start(std::vector<std::string> argv, const std::vector<std::string>& extra, int out, int err,
            int report, bool grouped) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('=') + 1);
        if (std::none_of(extra.begin(), extra.end(),
                         [&](const std::string& added) { return added.starts_with(name); })) {
            env.push_back(text);
        }
    }
    env.insert(env.end(), extra.begin(), extra.end());
    // Everything the child needs is made before the fork: it only calls what is safe
    // between fork and exec.
    std::vector<char*> args;
    std::vector<char*> envp;
    for (auto& [texts, pointers] : {std::pair{&argv, &args}, std::pair{&env, &envp}}) {
        for (std::string& text : *texts) {
            pointers->push_back(text.data());
        }
        pointers->push_back(nullptr);
    }
    const std::string failed = "cannot run " + argv[0] + "\n";
    const pid_t pid = ::fork();
    if (pid != 0) {
        if (pid > 0 && grouped) {
            ::setpgid(pid, pid);
        }
        return pid;
    }
    if (grouped) {
        ::setpgid(0, 0);
    }
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(out < 0 ? null : out, 1);
    if (err >= 0) {
        ::dup2(err, 2);
    }
    if (report >= 0) { // descriptor 3, kept open across exec
        (void)(report == 3 ? ::fcntl(3, F_SETFD, 0) : ::dup2(report, 3));
    }
    ::execve(args[0], args.data(), envp.data());
    (void)!::write(2, failed.data(), failed.size());
    ::_exit(127);
}

int reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool waitUntil(const std::function<bool()>& condition, double seconds) {
    const double deadline = steadySeconds() + seconds;
    while (!condition()) {
        if (steadySeconds() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

ProcessOutcome runProcess(const std::vector<std::string>& argv,
                          const std::vector<std::string>& extraEnvironment, double timeoutSeconds) {
    // Output goes to memory files, so that what a descendant keeps open holds up nothing.
    ProcessOutcome outcome;
    const int out = ::memfd_create("out", MFD_CLOEXEC);
    const int err = ::memfd_create("err", MFD_CLOEXEC);
    const double started = steadySeconds();
    const pid_t pid = out < 0 || err < 0 ? -1 : start(argv, extraEnvironment, out, err, -1, false);
    for (int status = 0; pid > 0;) {
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid) {
            outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (ended == pid || (ended < 0 && errno != EINTR)) {
            break;
        }
        if (steadySeconds() - started > timeoutSeconds) {
            ::kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    outcome.seconds = steadySeconds() - started;
    for (const auto& [fd, text] : {std::pair{out, &outcome.out}, std::pair{err, &outcome.err}}) {
        if (fd >= 0) {
            *text = readFile("/proc/self/fd/" + std::to_string(fd));
            ::close(fd);
        }
    }
    return outcome;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::vector<std::string>& extraEnvironment)
    : pid_(start(argv, extraEnvironment, -1, -1, -1, true)) {}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv, std::string& report,
                                     double seconds) {
    const int channel = ::memfd_create("report", MFD_CLOEXEC);
    pid_ = channel < 0 ? -1 : start(argv, {}, -1, -1, channel, true);
    const std::string path = "/proc/self/fd/" + std::to_string(channel);
    const bool reported =
        pid_ > 0 && waitUntil([&] { return readFile(path).contains('\n'); }, seconds);
    report = reported ? readFile(path).substr(0, readFile(path).find('\n')) : std::string();
    if (channel >= 0) {
        ::close(channel);
    }
}

void BackgroundProcess::kill() {
    if (pid_ > 0) {
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        (void)reap(pid_);
        pid_ = -1;
    }
}

} // namespace vesperon::testing
