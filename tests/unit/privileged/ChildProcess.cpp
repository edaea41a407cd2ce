#include "ChildProcess.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace vesperon::test {

double monotonicSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

ChildProcess::ChildProcess(const ChildOptions& options) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        variables[text.substr(0, text.find('='))] = text;
    }
    for (const std::string& text : options.environment) {
        variables[text.substr(0, text.find('='))] = text;
    }
    std::vector<std::string> environmentTexts;
    for (const auto& [name, text] : variables) {
        environmentTexts.push_back(text);
    }
    std::vector<char*> envp;
    for (std::string& text : environmentTexts) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> argvTexts = options.argv;
    std::vector<char*> argv;
    for (std::string& text : argvTexts) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);

    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    if (!options.workingDirectory.empty()) {
        ::posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
    }
    started_ = monotonicSeconds();
    const int error = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
    if (error != 0) {
        pid_ = -1;
        throw std::runtime_error(std::string("could not start ") + options.argv[0] + ": " +
                                 std::strerror(error));
    }
}

ChildProcess::~ChildProcess() {
    if (!done_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    ::close(outFd_);
    ::close(errFd_);
}

void ChildProcess::pump(int timeoutMs) {
    pollfd entries[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    if (::poll(entries, 2, timeoutMs) <= 0) {
        return;
    }
    char buffer[8192];
    for (int i = 0; i < 2; ++i) {
        if (entries[i].revents == 0 || entries[i].fd < 0) {
            continue;
        }
        const ssize_t n = ::read(entries[i].fd, buffer, sizeof buffer);
        if (n > 0) {
            (i == 0 ? outcome_.out : outcome_.err).append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            int& fd = i == 0 ? outFd_ : errFd_;
            ::close(fd);
            fd = -1;
        }
    }
}

bool ChildProcess::waitForOutput(std::string_view text, double timeoutSeconds) {
    const double end = monotonicSeconds() + timeoutSeconds;
    while (outcome_.out.find(text) == std::string::npos) {
        if (monotonicSeconds() > end || (outFd_ < 0 && errFd_ < 0)) {
            return false;
        }
        pump(20);
    }
    return true;
}

ChildOutcome ChildProcess::wait(double timeoutSeconds) {
    if (done_) {
        return outcome_;
    }
    const double end = monotonicSeconds() + timeoutSeconds;
    int status = 0;
    for (;;) {
        const pid_t result = ::waitpid(pid_, &status, WNOHANG);
        if (result == pid_) {
            break;
        }
        if (monotonicSeconds() > end) {
            ::kill(pid_, SIGKILL);
        }
        pump(20);
    }
    outcome_.seconds = monotonicSeconds() - started_;
    // Everything the child wrote is in the pipes now; descendants may keep them open.
    for (int fd : {outFd_, errFd_}) {
        if (fd >= 0) {
            ::fcntl(fd, F_SETFL, O_NONBLOCK);
        }
    }
    while (outFd_ >= 0 || errFd_ >= 0) {
        const std::size_t before = outcome_.out.size() + outcome_.err.size();
        pump(0);
        if (outcome_.out.size() + outcome_.err.size() == before) {
            break;
        }
    }
    outcome_.exitStatus = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    done_ = true;
    return outcome_;
}

ChildOutcome runChild(const ChildOptions& options, double timeoutSeconds) {
    ChildProcess child(options);
    return child.wait(timeoutSeconds);
}

} // namespace vesperon::test
