#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

#include "common/ChildProcess.hpp"
#include "common/Error.hpp"
#include "common/ErrorDomains.hpp"
#include "common/Scheduler.hpp"

namespace vesperon {

// Runs one shell command for a task session: as the application's user, in its own
// process group, from the home folder, with no input and its output discarded. A
// 0.15-second poll on the main loop notices the exit, kills whatever the command
// left running in its group and reports the exit code once. Main thread only.
class LocalTaskRunner {
  public:
    // Exit code: the exit status, 128 + signal number, or 255 when the child can no
    // longer be waited for.
    using Completion = std::function<void(std::int32_t exitCode)>;

    static constexpr const char* errorDomain = vesperon::errorDomain::task;
    static constexpr const char* commandError = "Enter a command of up to 16 KB.";
    static constexpr std::size_t maxCommandBytes = 16'384;
    static constexpr double pollSeconds = 0.15;

    // `shellPath` runs the command with "-c"; `homeFolder` is the working folder.
    LocalTaskRunner(Scheduler& scheduler, std::string shellPath, std::string homeFolder);
    // Uses the platform's shell and the user's home folder (userHomeFolder()).
    explicit LocalTaskRunner(Scheduler& scheduler);
    // Kills the running command's process group and reaps it.
    ~LocalTaskRunner();
    LocalTaskRunner(const LocalTaskRunner&) = delete;
    LocalTaskRunner& operator=(const LocalTaskRunner&) = delete;

    // True for a command that is not blank once trimmed, is valid UTF-8 of at most
    // 16,384 bytes and holds no NUL character.
    [[nodiscard]] static bool acceptsCommand(std::string_view command);

    // Starts `command` exactly as given. Refused with the "Vesperon.Task" error when a
    // command already runs or `command` breaks a limit; a failed spawn is an error
    // of the POSIX domain carrying its errno value.
    [[nodiscard]] Result<void> launch(std::string_view command, Completion completion);
    // Drops the completion and kills the command's whole process group at once. The
    // next poll reaps the command; until then isRunning() stays true.
    void cancel();
    [[nodiscard]] bool isRunning() const { return child_.has_value(); }
    [[nodiscard]] pid_t pid() const { return child_ ? child_->pid() : 0; }

  private:
    void checkExit();
    void stopPolling();

    Scheduler& scheduler_;
    std::string shellPath_;
    std::string homeFolder_;
    std::optional<ChildProcess> child_;
    Scheduler::TimerId poller_ = 0;
    Completion completion_;
};

} // namespace vesperon
