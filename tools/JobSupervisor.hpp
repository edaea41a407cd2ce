#pragma once

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "JobDefinition.hpp"
#include "MachineFiles.hpp"
#include "SupervisorProtocol.hpp"

namespace vesperon::tools {

// The sandboxed machine's service manager: loads job files, really runs their
// programs as root, restarts them when they exit (never sooner than their throttle
// interval after the previous start), unloads them on request and simulates a
// reboot. Single-threaded: one poll loop serves requests, child exits and timers.
//
// Files under DIR/machine: launchd.sock (requests), launchd.pid, jobs.log (the jobs'
// standard output and error), job-starts.log (one line per start: wall-clock
// seconds, label, pid).
class JobSupervisor {
  public:
    explicit JobSupervisor(std::string sandboxRoot);
    JobSupervisor(const JobSupervisor&) = delete;
    JobSupervisor& operator=(const JobSupervisor&) = delete;

    // Runs until SIGTERM or SIGINT, or until the machine folder disappears.
    // Returns the process exit status.
    int run();

  private:
    struct Job {
        JobDefinition definition;
        pid_t pid = 0;                   // the running process, 0 when none
        double lastStart = -1e18;        // monotonic seconds
        std::optional<double> restartAt; // monotonic seconds of a throttled restart
        int lastExit = 0;
        int runs = 0;
    };
    // A process of an unloaded job that is being ended; its clients get their reply
    // once it is gone.
    struct EndingProcess {
        pid_t pid = 0;
        double killAt = 0; // monotonic seconds at which SIGTERM escalates to SIGKILL
        std::vector<int> waiters;
    };

    SupervisorReply handle(const std::vector<std::string>& args, int connection, bool& deferred,
                           bool privileged);
    SupervisorReply bootstrap(const std::string& path);
    SupervisorReply bootout(const std::string& target, int connection, bool& deferred);
    SupervisorReply print(const std::string& target) const;
    SupervisorReply reboot();

    void startJob(Job& job);
    void reapChildren();
    void processExited(pid_t pid, int waitStatus);
    void runTimers();
    int pollTimeoutMs() const;
    void killEverything();
    void loadBootJobs();
    void log(const std::string& line) const;

    MachineFiles files_;
    std::map<std::string, Job> jobs_;
    std::vector<EndingProcess> ending_;
    std::vector<std::string> jobEnvironment_;
    OwnedFd listenFd_;
    OwnedFd signalFd_;
    bool stopping_ = false;
};

} // namespace vesperon::tools
