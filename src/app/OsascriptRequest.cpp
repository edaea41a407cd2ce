#include "app/OsascriptRequest.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

#include "common/DescriptorIO.hpp"
#include "common/Quoting.hpp"
#include "common/Utf8Text.hpp"

extern char** environ;

namespace vesperon {
namespace {

// The helper prints a few short lines; anything past this is not a helper's answer.
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

OsascriptRequest::OsascriptRequest(Scheduler& mainQueue, std::string osascriptPath,
                                   std::string executablePath)
    : mainQueue_(mainQueue), osascriptPath_(std::move(osascriptPath)),
      executablePath_(std::move(executablePath)) {}

std::string OsascriptRequest::script(const std::string& executablePath,
                                     const std::vector<std::string>& arguments) {
    std::string command = shellQuote(executablePath);
    for (const std::string& argument : arguments) {
        command += ' ';
        command += shellQuote(argument);
    }
    return "do shell script " + appleQuote(command) + " with administrator privileges";
}

void OsascriptRequest::auth(const std::vector<std::string>& arguments, Done done) {
    const std::string source = script(executablePath_, arguments);

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

    std::vector<std::string> words{osascriptPath_, "-e", source};
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawned =
        ::posix_spawn(&pid, osascriptPath_.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        // Answered through the main queue like every other outcome, so the caller
        // never sees its callback run inside its own call.
        const std::string message =
            "The administrator prompt could not be opened: " + std::string(std::strerror(spawned));
        mainQueue_.post([done = std::move(done), message] { done(false, message); });
        return;
    }

    const int readFd = pipeFds[0];
    waiters_.start([this, readFd, pid, done = std::move(done)]() mutable {
        // Output that cannot be read whole or is not UTF-8 counts as no text.
        std::string output = readToEnd(readFd, maximumOutputBytes).value_or(std::string());
        ::close(readFd);
        const int status = waitForExit(pid);
        if (!isValidUtf8(output)) {
            output.clear();
        }
        mainQueue_.post([done = std::move(done), status, output = std::move(output)] {
            done(status == 0, output);
        });
    });
}

} // namespace vesperon
