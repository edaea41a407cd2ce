#include "tasks/LocalTaskRunner.hpp"

#include <cerrno>
#include <csignal>
#include <utility>

#include <sys/wait.h>

#include "common/SystemError.hpp"
#include "common/Utf8Text.hpp"
#include "platform/SystemLayout.hpp"
#include "platform/UserHome.hpp"

namespace vesperon {

namespace {

std::int32_t exitCodeOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return 255;
}

} // namespace

LocalTaskRunner::LocalTaskRunner(Scheduler& scheduler, std::string shellPath,
                                 std::string homeFolder)
    : scheduler_(scheduler), shellPath_(std::move(shellPath)), homeFolder_(std::move(homeFolder)) {}

LocalTaskRunner::LocalTaskRunner(Scheduler& scheduler)
    : LocalTaskRunner(scheduler, systemLayout().shellPath, userHomeFolder()) {}

LocalTaskRunner::~LocalTaskRunner() {
    stopPolling();
    if (child_) {
        // SIGKILL to the whole group cannot be caught: the wait is short.
        (void)child_->reap();
    }
}

bool LocalTaskRunner::acceptsCommand(std::string_view command) {
    if (command.size() > maxCommandBytes || command.find('\0') != std::string_view::npos) {
        return false;
    }
    const auto trimmed = trimWhiteSpace(command);
    return trimmed && !trimmed->empty();
}

Result<void> LocalTaskRunner::launch(std::string_view command, Completion completion) {
    if (isRunning() || !acceptsCommand(command)) {
        return fail(errorDomain, commandError);
    }
    if (homeFolder_.empty()) {
        return systemError("", "", ENOENT);
    }
    // The command leads a new process group, starts with default signal handling and
    // nothing blocked, as from a terminal, and has no input; its output is discarded.
    auto started = ChildProcess::start(ChildSpec{.path = shellPath_,
                                                 .arguments = {"-c", std::string(command)},
                                                 .environment = std::nullopt,
                                                 .input = ChildSpec::Input::None,
                                                 .output = ChildSpec::Output::None,
                                                 .workingFolder = homeFolder_});
    if (!started) {
        return std::unexpected(started.error());
    }
    child_.emplace(std::move(*started));
    completion_ = std::move(completion);
    // The destructor cancels the timer, so the poll never outlives the runner.
    poller_ = scheduler_.every(pollSeconds, [this] { checkExit(); });
    return {};
}

void LocalTaskRunner::cancel() {
    if (!child_) {
        return;
    }
    completion_ = nullptr;
    child_->signalGroup(SIGKILL);
}

void LocalTaskRunner::stopPolling() {
    if (poller_ != 0) {
        scheduler_.cancel(poller_);
        poller_ = 0;
    }
}

void LocalTaskRunner::checkExit() {
    if (!child_ || !child_->exited()) {
        return; // still running: look again at the next poll
    }
    // Reaping ends what the command left behind in its group first.
    const std::optional<int> status = child_->reap();
    const std::int32_t exitCode = status ? exitCodeOf(*status) : 255;
    child_.reset();
    stopPolling();
    Completion done = std::move(completion_);
    completion_ = nullptr;
    // Last: the completion may launch another command or destroy this runner.
    if (done) {
        done(exitCode);
    }
}

} // namespace vesperon
