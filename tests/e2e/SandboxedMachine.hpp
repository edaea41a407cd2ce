#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ChildProcess.hpp"
#include "FileContents.hpp"
#include "TempFolder.hpp"

namespace vesperon::e2e {

// One line of the service manager's start log.
struct JobStart {
    double wallSeconds = 0;
    std::string label;
    int pid = 0;
};

// A fresh sandboxed machine (scripts/sandbox create) in its own temporary folder,
// destroyed with the object, also when the test failed.
class SandboxedMachine {
  public:
    SandboxedMachine();
    ~SandboxedMachine();
    SandboxedMachine(const SandboxedMachine&) = delete;
    SandboxedMachine& operator=(const SandboxedMachine&) = delete;

    // Empty when the machine came up; else what went wrong.
    const std::string& failure() const { return failure_; }
    const std::string& root() const { return root_; }

    // scripts/sandbox DIR ARGS...
    ProcessOutcome sandbox(const std::vector<std::string>& args) const;
    // The `state` lines as a map: "override" -> "on", ...
    std::map<std::string, std::string> state() const;
    // Override off, job unloaded, job file and root state gone.
    bool restored() const;
    long long powerCalls() const;

    // The real executable, run as root on this machine.
    ProcessOutcome vesperon(const std::vector<std::string>& args, double timeoutSeconds = 60) const;
    // One of the machine's tools (e.g. "/usr/bin/pmset"), run directly.
    ProcessOutcome tool(const std::string& installedPath, const std::vector<std::string>& args,
                        double timeoutSeconds = 60) const;

    std::string rootDir() const;
    std::string recordPath() const;
    std::string jobPath() const;
    std::string machineFile(const std::string& name) const;
    std::string jobsLog() const;
    std::vector<JobStart> jobStarts() const;

  private:
    std::optional<testing::TempFolder> folder_;
    std::string root_;
    std::string failure_;
};

// What an application looks like to the root side: a process id, a heartbeat file it
// renews every second while `renewing`, and a stop file path, in a private folder.
class FakeApp {
  public:
    FakeApp(const SandboxedMachine& machine, bool renewing,
            const std::string& folderName = "Vesperon-session");

    pid_t pid() const { return process_->pid(); }
    const std::string& heartbeat() const { return heartbeat_; }
    const std::string& stop() const { return stop_; }
    void kill() { process_->kill(); }
    void touchHeartbeat() const;
    void createStopFile() const;

  private:
    std::string heartbeat_;
    std::string stop_;
    std::unique_ptr<BackgroundProcess> process_;
};

// Polls `condition` every 100 ms until it holds or `seconds` have passed.
bool waitUntil(const std::function<bool()>& condition, double seconds);

using vesperon::testing::readFile;
void writeFile(const std::string& path, const std::string& data);
bool pathExists(const std::string& path);
double steadySeconds();

} // namespace vesperon::e2e
