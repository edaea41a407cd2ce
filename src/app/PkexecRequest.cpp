#include "app/PkexecRequest.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/DescriptorIO.hpp"
#include "common/Utf8Text.hpp"

extern char** environ;

namespace vesperon {
namespace {

constexpr std::size_t maximumOutputBytes = 1024 * 1024;

int waitForExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
}

} // namespace

PkexecRequest::PkexecRequest(Scheduler& mainQueue, std::string pkexecPath,
                             std::string executablePath)
    : mainQueue_(mainQueue), pkexecPath_(std::move(pkexecPath)),
      executablePath_(std::move(executablePath)) {}

PkexecRequest::Answer PkexecRequest::answer(int status, std::string output) {
    if (status == dismissedStatus) {
        return {false, "Authorization was cancelled."};
    }
    if (status == notAuthorizedStatus) {
        std::string text = "Not authorized: an administrator's password is needed to change the "
                           "sleep settings.";
        if (output.find("Not authorized") == std::string::npos && !output.empty()) {
            text += "\n" + output; // why pkexec could not ask (no agent, no action, …)
        }
        return {false, text};
    }
    return {status == 0, std::move(output)};
}

void PkexecRequest::auth(const std::vector<std::string>& arguments, Done done) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        const std::string message = std::strerror(errno);
        mainQueue_.post([done = std::move(done), message] { done(false, message); });
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);

    // pkexec takes the command as separate words: no shell, no quoting.
    std::vector<std::string> words{pkexecPath_, executablePath_};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawned =
        ::posix_spawn(&pid, pkexecPath_.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        const std::string message =
            "The administrator prompt could not be opened: " + std::string(std::strerror(spawned));
        mainQueue_.post([done = std::move(done), message] { done(false, message); });
        return;
    }

    const int readFd = pipeFds[0];
    waiters_.start([this, readFd, pid, done = std::move(done)]() mutable {
        std::string output = readToEnd(readFd, maximumOutputBytes).value_or(std::string());
        ::close(readFd);
        const int status = waitForExit(pid);
        if (!isValidUtf8(output)) {
            output.clear();
        }
        mainQueue_.post([done = std::move(done), result = answer(status, std::move(output))] {
            done(result.success, result.text);
        });
    });
}

} // namespace vesperon
