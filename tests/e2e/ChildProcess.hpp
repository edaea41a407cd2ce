#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace vesperon::e2e {

struct ProcessOutcome {
    int status = -1;    // exit status; 128 + signal when killed; -1 when it could not run
    std::string out;    // standard output
    std::string err;    // standard error
    double seconds = 0; // wall time from start to exit
    bool timedOut = false;
};

// Runs a program to its end with separate standard output and error, standard input
// from /dev/null, the current environment plus `extraEnvironment` ("NAME=value").
// A program still running after `timeoutSeconds` is killed.
ProcessOutcome runProcess(const std::vector<std::string>& argv,
                          const std::vector<std::string>& extraEnvironment = {},
                          double timeoutSeconds = 60);

// A process that runs in the background in its own process group until it is
// killed; killing it also reaps it, so that it does not linger as a zombie that
// still answers kill(pid, 0).
class BackgroundProcess {
  public:
    explicit BackgroundProcess(const std::vector<std::string>& argv,
                               const std::vector<std::string>& extraEnvironment = {});
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    // Starts a server that reports its address on descriptor 3 once it is ready
    // (Xvfb -displayfd 3, dbus-daemon --print-address=3) and waits up to `seconds` for
    // that first line; `report` is left empty when none came.
    BackgroundProcess(const std::vector<std::string>& argv, std::string& report, double seconds);

    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0; }
    void kill();

  private:
    pid_t pid_ = -1;
};

} // namespace vesperon::e2e
