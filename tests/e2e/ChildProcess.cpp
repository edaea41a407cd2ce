#include "ChildProcess.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vesperon::e2e {
namespace {

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

int statusOf(int waitStatus) {
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

[[noreturn]] void execOrDie(std::vector<std::string> argv, std::vector<std::string> env) {
    std::vector<char*> args = pointersTo(argv);
    std::vector<char*> envp = pointersTo(env);
    ::execve(args[0], args.data(), envp.data());
    const std::string message = "cannot run " + argv[0] + ": " + std::strerror(errno) + "\n";
    const ssize_t written = ::write(2, message.data(), message.size());
    (void)written;
    ::_exit(127);
}

std::vector<std::string> currentEnvironmentWith(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const std::string& added : extra) {
            replaced = replaced || added.substr(0, added.find('=')) == name;
        }
        if (!replaced) {
            env.push_back(text);
        }
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

} // namespace

ProcessOutcome runProcess(const std::vector<std::string>& argv,
                          const std::vector<std::string>& extraEnvironment, double timeoutSeconds) {
    ProcessOutcome outcome;
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        return outcome;
    }
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return outcome;
    }
    const auto env = currentEnvironmentWith(extraEnvironment);
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, 0);
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        execOrDie(argv, env);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (pid < 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        return outcome;
    }
    const auto deadline = started + std::chrono::duration<double>(timeoutSeconds);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&outcome.out, &outcome.err};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            outcome.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& fd : fds) {
        if (fd.fd >= 0) {
            ::close(fd.fd);
        }
    }
    int waitStatus = 0;
    while (::waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    outcome.status = statusOf(waitStatus);
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return outcome;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::vector<std::string>& extraEnvironment) {
    auto env = currentEnvironmentWith(extraEnvironment);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setpgid(0, 0);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        execOrDie(argv, env);
    }
    if (pid_ > 0) {
        ::setpgid(pid_, pid_);
    }
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv, std::string& report,
                                     double seconds) {
    report.clear();
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0) {
        return;
    }
    auto env = currentEnvironmentWith({});
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setpgid(0, 0);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(channel[1], 3); // dup2 clears close-on-exec on the copy
        execOrDie(argv, env);
    }
    ::close(channel[1]);
    if (pid_ > 0) {
        ::setpgid(pid_, pid_);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        char c = 0;
        while (report.find('\n') == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd entry{channel[0], POLLIN, 0};
            if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0 ||
                ::read(channel[0], &c, 1) != 1) {
                break;
            }
            report += c;
        }
        if (report.find('\n') == std::string::npos) {
            report.clear();
        } else {
            report.pop_back();
        }
    }
    ::close(channel[0]);
}

BackgroundProcess::~BackgroundProcess() {
    kill();
}

void BackgroundProcess::kill() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    int waitStatus = 0;
    while (::waitpid(pid_, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

} // namespace vesperon::e2e
