#include "app/PromptProcess.hpp"

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

// A prompt's helper prints a few short lines; anything past this is not its answer.
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

void PromptProcess::run(std::vector<std::string> words, Reading reading,
                        PrivilegedRequest::Done done) {
    // Every outcome is answered through the main queue, so the caller never sees its
    // callback run inside its own call.
    const auto fail = [&](std::string message) {
        mainQueue_.post([done = std::move(done), message = std::move(message)] {
            done(false, message);
        });
    };
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        fail(std::strerror(errno));
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawned =
        ::posix_spawn(&pid, words.front().c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        fail("The administrator prompt could not be opened: " +
             std::string(std::strerror(spawned)));
        return;
    }

    const int readFd = pipeFds[0];
    waiters_.start([this, readFd, pid, reading, done = std::move(done)]() mutable {
        // Output that cannot be read whole or is not UTF-8 counts as no text.
        std::string output = readToEnd(readFd, maximumOutputBytes).value_or(std::string());
        ::close(readFd);
        const int status = waitForExit(pid);
        if (!isValidUtf8(output)) {
            output.clear();
        }
        mainQueue_.post([done = std::move(done), answer = reading(status, std::move(output))] {
            done(answer.success, answer.text);
        });
    });
}

} // namespace vesperon
