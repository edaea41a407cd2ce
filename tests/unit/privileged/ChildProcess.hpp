#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace vesperon::test {

struct ChildOutcome {
    int exitStatus = -1; // exit code; 128 + signal when a signal ended it
    std::string out;
    std::string err;
    double seconds = 0; // from start to exit
};

struct ChildOptions {
    std::vector<std::string> argv;
    std::vector<std::string> environment; // "NAME=value", added to (or replacing) ours
    std::string workingDirectory;         // empty: ours
};

// A real child process with its own standard output and error pipes and standard
// input from /dev/null. Killed and reaped if still running when destroyed.
class ChildProcess {
  public:
    explicit ChildProcess(const ChildOptions& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Reads standard output until it holds `text`; false after `timeoutSeconds`.
    bool waitForOutput(std::string_view text, double timeoutSeconds);
    // Waits for the end (killing the child after `timeoutSeconds`) and collects all output.
    ChildOutcome wait(double timeoutSeconds = 60);

  private:
    void pump(int timeoutMs);
    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    double started_ = 0;
    ChildOutcome outcome_;
    bool done_ = false;
};

// Starts a child and waits for its end.
ChildOutcome runChild(const ChildOptions& options, double timeoutSeconds = 60);

// Seconds on the monotonic clock, for measuring.
double monotonicSeconds();

} // namespace vesperon::test
