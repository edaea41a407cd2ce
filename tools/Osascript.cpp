// Stand-in for the administrator prompt on a sandboxed machine:
//   osascript -e 'do shell script "..." with administrator privileges'
// The prompt is granted unless DIR/machine/prompt says "cancel"; the command then runs
// with /bin/sh -c, its standard output and standard error merged. Exit status 0 only
// when the command exited 0; failures are reported in osascript's own form.
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

#include "AdminShellScript.hpp"
#include "MachineFiles.hpp"
#include "common/CloseOnExec.hpp"

extern char** environ;

namespace {

struct CommandResult {
    int status = 0;
    std::string output;
};

CommandResult runShell(const std::string& command) {
    int pipeFds[2];
    if (vesperon::pipeCloseOnExec(pipeFds) != 0) {
        return {-1, "could not create a pipe"};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    const char* shellArgs[] = {"sh", "-c", command.c_str(), nullptr};
    pid_t child = -1;
    const int spawnError = ::posix_spawn(&child, "/bin/sh", &actions, nullptr,
                                         const_cast<char* const*>(shellArgs), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawnError != 0) {
        ::close(pipeFds[0]);
        return {-1, "could not start /bin/sh"};
    }
    CommandResult result;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int waitStatus = 0;
    while (::waitpid(child, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
    // Like the real tool, the result drops one final line feed.
    if (!result.output.empty() && result.output.back() == '\n') {
        result.output.pop_back();
    }
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::string_view(argv[1]) != "-e") {
        std::fputs("usage: osascript -e 'do shell script \"...\" with administrator privileges'\n",
                   stderr);
        return 1;
    }
    const std::string_view source = argv[2];
    const auto command = vesperon::tools::parseAdminShellScript(source);
    if (!command) {
        std::fprintf(stderr, "0:%zu: syntax error: %s (-2741)\n", source.size(),
                     command.error().c_str());
        return 1;
    }
    const auto root = vesperon::tools::sandboxRootOfTool("/usr/bin/osascript");
    if (!root) {
        std::fputs("osascript: not installed in a sandboxed machine\n", stderr);
        return 1;
    }
    const vesperon::tools::MachineFiles files(*root);
    if (files.readText("prompt").value_or("grant") == "cancel") {
        std::fprintf(stderr, "0:%zu: execution error: User canceled. (-128)\n", source.size());
        return 1;
    }
    const CommandResult result = runShell(*command);
    if (result.status != 0) {
        std::fprintf(stderr, "0:%zu: execution error: ", source.size());
        std::fwrite(result.output.data(), 1, result.output.size(), stderr);
        std::fprintf(stderr, " (%d)\n", result.status);
        return 1;
    }
    if (!result.output.empty()) {
        std::fwrite(result.output.data(), 1, result.output.size(), stdout);
        std::fputc('\n', stdout);
    }
    return 0;
}
