#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ChildProcess.hpp"
#include "FileContents.hpp"
#include "TempFolder.hpp"

namespace vesperon::e2e {

using namespace vesperon::testing;

// A fresh sandboxed machine (scripts/sandbox create) in its own temporary folder,
// destroyed with the object, also when the test failed.
class SandboxedMachine {
  public:
    SandboxedMachine();
    ~SandboxedMachine();
    SandboxedMachine(const SandboxedMachine&) = delete;
    SandboxedMachine& operator=(const SandboxedMachine&) = delete;
    const std::string& failure() const { return failure_; } // empty when the machine is up
    const std::string& root() const { return root_; }

    ProcessOutcome sandbox(const std::vector<std::string>& args) const; // scripts/sandbox ROOT ...
    std::map<std::string, std::string> state() const;                   // "override" -> "on", ...
    bool restored() const; // override off, job unloaded, job file and root state gone

    ProcessOutcome vesperon(const std::vector<std::string>& args) const;

    std::string rootDir() const { return root_ + "/Library/Application Support/LocalVesperon"; }
    std::string recordPath() const { return rootDir() + "/session.json"; }
    std::string jobPath() const {
        return root_ + "/Library/LaunchDaemons/local.vesperon.session.plist";
    }
    std::string machineFile(const std::string& name) const { return root_ + "/machine/" + name; }
    std::string jobsLog() const { return readFile(machineFile("jobs.log")); }

  private:
    std::optional<TempFolder> folder_;
    std::string root_;
    std::string failure_;
};

// What an application looks like to the root side: a process id, a heartbeat file it
// renews every second, and a stop file path, in a private folder.
class FakeApp {
  public:
    explicit FakeApp(const SandboxedMachine& machine);
    pid_t pid() const { return process_->pid(); }
    const std::string& heartbeat() const { return heartbeat_; }
    const std::string& stop() const { return stop_; }
    void createStopFile() const { writeFile(stop_, ""); }

  private:
    std::string heartbeat_;
    std::string stop_;
    std::unique_ptr<BackgroundProcess> process_;
};

} // namespace vesperon::e2e
