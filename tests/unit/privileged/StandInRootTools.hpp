#pragma once

#include <string>
#include <unistd.h>
#include <vector>

#include "ChildProcess.hpp"
#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "platform/SystemLayout.hpp"
#include "privileged/SessionRecord.hpp"

namespace vesperon::testing {

// A fresh folder under /tmp that every user may read and enter.
class TemporaryFolder : public TempFolder {
  public:
    TemporaryFolder() : TempFolder("vesperon-priv", "/tmp", 0755) {}
};

// A throw-away machine for the root side: the layout's folders, the probe readings and
// shell stand-ins for pmset and launchctl that keep their state in machine/ files, log
// every call and can be told to fail. A bootstrap only marks the job loaded (no service
// manager runs), so each mode can be watched on its own.
class StandInRootTools {
  public:
    StandInRootTools() { reset(); }
    StandInRootTools(const StandInRootTools&) = delete;
    StandInRootTools& operator=(const StandInRootTools&) = delete;

    // Override off, on battery at 80 %, thermal 0, a boot id, no job, nothing logged.
    void reset();

    const std::string& root() const { return root_; }
    SystemLayout layout() const { return SystemLayout::sandbox(root_); }
    ProcessOutcome vesperon(const std::vector<std::string>& args) const; // as root here

    void put(const std::string& name, const std::string& text) const; // a machine/ file
    std::string read(const std::string& name) const;                  // "" when absent
    void remove(const std::string& name) const { ::unlink(file(name).c_str()); }

    void setOverride(bool on) const { put("sleep-disabled", on ? "1" : "0"); }
    bool overrideOn() const { return read("sleep-disabled") == "1"; }
    void failPower(int calls) const { put("fail-power", std::to_string(calls)); }
    void setBattery(int current, bool onAC) const;
    void addSleep(double seconds) const;
    double clock() const; // the continuous clock as the machine's probes read it

    void setJobLoaded(bool loaded) const { loaded ? put("job-loaded", "") : remove("job-loaded"); }
    bool jobLoaded() const { return pathExists(file("job-loaded")); }
    // bootout fails and print keeps answering "loaded".
    void makeJobSticky() const { put("job-sticky", ""); }
    void failBootstrap() const { put("bootstrap-failure", "Bootstrap failed: 5: I/O error"); }

    std::vector<std::string> pmsetCalls() const { return lines("pmset.log"); }
    std::vector<std::string> launchctlCalls() const { return lines("launchctl.log"); }

    // The root state and job file of a session as setup leaves them.
    void installSession(const Session& session) const;
    bool rootStatePresent() const { return pathExists(layout().rootDir); }
    bool jobFilePresent() const { return pathExists(layout().jobPath); }

  private:
    std::string file(const std::string& name) const { return root_ + "/machine/" + name; }
    std::vector<std::string> lines(const std::string& name) const;
    TemporaryFolder folder_;
    std::string root_ = folder_.path();
};

// The machine this test process reads through systemLayout(), named in VESPERON_SANDBOX
// at the first call, which must come before the layout's first use; tests reset it.
StandInRootTools& processMachine();

// A record whose every health rule passes on `machine` now: owned by this process, an
// hour long, heartbeat (created) and stop file in `folder`.
Session healthySession(const StandInRootTools& machine, const std::string& folder);

} // namespace vesperon::testing
