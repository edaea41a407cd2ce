#pragma once

#include <string>
#include <vector>

#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "platform/SystemLayout.hpp"
#include "privileged/SessionRecord.hpp"

namespace vesperon::test {

// A fresh folder under /tmp that every user may read and enter, removed with its
// contents when the object goes.
class TemporaryFolder : public vesperon::testing::TempFolder {
  public:
    TemporaryFolder() : TempFolder("vesperon-priv", "/tmp", 0755) {}
};

// A throw-away sandboxed machine for the root side's tests: the layout's folders, the
// probe readings, and small shell stand-ins for pmset and launchctl that keep their
// state in files, log every call and can be told to fail. Unlike the full sandbox it
// runs no service manager: a bootstrap only marks the job loaded, so each mode can be
// watched on its own.
class FakeMachine {
  public:
    FakeMachine();
    FakeMachine(const FakeMachine&) = delete;
    FakeMachine& operator=(const FakeMachine&) = delete;

    // Back to a fresh machine: override off, on battery at 80 %, lid open, thermal 0,
    // a boot id, no job, no root state, nothing logged.
    void reset();

    const std::string& root() const { return root_; }
    SystemLayout layout() const { return SystemLayout::sandbox(root_); }
    std::vector<std::string> environment() const { return {"VESPERON_SANDBOX=" + root_}; }

    void put(const std::string& name, const std::string& text) const; // a machine/ file
    std::string read(const std::string& name) const;                  // "" when absent
    void remove(const std::string& name) const;

    void setOverride(bool on) const { put("sleep-disabled", on ? "1" : "0"); }
    bool overrideOn() const { return read("sleep-disabled") == "1"; }
    void failPower(int calls) const { put("fail-power", std::to_string(calls)); }
    void setBattery(int current, int maximum, bool onAC) const;
    void setLid(bool closed) const { put("lid", closed ? "true" : "false"); }
    void setThermal(int state) const { put("thermal", std::to_string(state)); }
    void setBootID(const std::string& id) const { put("boot-id", id); }
    void addSleep(double seconds) const;
    double clock() const; // the machine's continuous clock, as its probes read it

    void setJobLoaded(bool loaded) const;
    bool jobLoaded() const;
    // The next bootstraps fail with `output` and status 5.
    void failBootstrap(const std::string& output) const { put("bootstrap-failure", output); }
    // The job cannot be unloaded: bootout fails and print keeps answering "loaded".
    void makeJobSticky() const { put("job-sticky", ""); }

    std::vector<std::string> pmsetCalls() const { return lines("pmset.log"); }
    std::vector<std::string> launchctlCalls() const { return lines("launchctl.log"); }

    // Lays out the root state and job file of a session as setup leaves them.
    void installSession(const Session& session) const;
    bool rootStatePresent() const;
    bool jobFilePresent() const;

  private:
    std::vector<std::string> lines(const std::string& name) const;
    void writeTools() const;
    TemporaryFolder folder_;
    std::string root_ = folder_.path();
};

// A session record whose every test passes on `machine` right now: owned by this
// process, 1 hour long, heartbeat and stop files in `folder` (the heartbeat created).
Session healthySession(const FakeMachine& machine, const std::string& folder);

// Writes a file (creating it or replacing its contents).
void writeFile(const std::string& path, const std::string& text);
using vesperon::testing::readFile;

} // namespace vesperon::test
