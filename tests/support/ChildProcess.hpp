#pragma once

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "common/ChildProcess.hpp"

namespace vesperon::testing {

struct ProcessOutcome {
    int status = -1; // exit status; 128 + signal when killed; -1 when it could not run
    std::string out;
    std::string err;
};

// Runs a program to its end with standard input from /dev/null and the current
// environment plus `extraEnvironment` ("NAME=value"); stopped after `timeoutSeconds`.
ProcessOutcome runProcess(const std::vector<std::string>& argv,
                          const std::vector<std::string>& extraEnvironment = {},
                          double timeoutSeconds = 60);

// A process in its own group, output discarded, until killed; killing it also reaps it,
// so that no zombie lingers that still answers kill(pid, 0).
class BackgroundProcess {
  public:
    explicit BackgroundProcess(const std::vector<std::string>& argv,
                               const std::vector<std::string>& extraEnvironment = {});
    // A server that reports its address on standard output once ready (Xvfb -displayfd
    // 1, dbus-daemon --print-address=1): waits up to `seconds` for that first line,
    // which `report` receives (empty when none came).
    BackgroundProcess(const std::vector<std::string>& argv, std::string& report, int seconds);
    ~BackgroundProcess() { kill(); }
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    pid_t pid() const { return pid_; }
    void kill() {
        if (child_) {
            (void)child_->reap(); // SIGKILL to the group
        }
        child_.reset();
    }

  private:
    std::optional<ChildProcess> child_;
    pid_t pid_ = -1;
};

inline double steadySeconds() {
    return ChildProcess::steadySeconds();
}
// Polls `condition` every 100 ms until it holds or `seconds` have passed.
bool waitUntil(const std::function<bool()>& condition, double seconds);

} // namespace vesperon::testing
