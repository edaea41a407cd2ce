#include "app/OsascriptRequest.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

#include "privileged/Quoting.hpp"

extern char** environ;

namespace vesperon {
namespace {

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool validUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        unsigned low = 0x80, high = 0xBF;
        if (byte < 0x80) {
            ++i;
            continue;
        } else if (byte >= 0xC2 && byte <= 0xDF) {
            length = 1;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            length = 2;
            low = byte == 0xE0 ? 0xA0 : 0x80;
            high = byte == 0xED ? 0x9F : 0xBF;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            length = 3;
            low = byte == 0xF0 ? 0x90 : 0x80;
            high = byte == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (i + length >= text.size()) {
            return false;
        }
        for (std::size_t k = 1; k <= length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
                return false;
            }
        }
        i += length + 1;
    }
    return true;
}

std::string readToEnd(int fd) {
    std::string data;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return data;
        }
        data.append(buffer, static_cast<std::size_t>(n));
    }
}

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
        std::string output = readToEnd(readFd);
        ::close(readFd);
        const int status = waitForExit(pid);
        if (!validUtf8(output)) {
            output.clear();
        }
        mainQueue_.post([done = std::move(done), status, output = std::move(output)] {
            done(status == 0, output);
        });
    });
}

} // namespace vesperon
