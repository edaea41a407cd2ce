#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <string>

#include "SandboxedMachine.hpp"

namespace vesperon::e2e {

// A sandboxed machine and the steps every session test shares.
class SessionFixture : public ::testing::Test {
  protected:
    // What a loaded machine may add to any real-time bound: other builds and tests
    // share the processors, and a poll or a process start can be seconds late.
    static constexpr double slack = 4.0;

    void SetUp() override { ASSERT_EQ(machine.failure(), ""); }

    ProcessOutcome setUp(const FakeApp& app, int seconds = 3600) const {
        return machine.vesperon({"--setup", std::to_string(app.pid()), std::to_string(seconds),
                                 app.heartbeat(), app.stop()});
    }

    // Sets a session up and waits until the watcher has switched the override on.
    void startSession(const FakeApp& app, int seconds = 3600) {
        const ProcessOutcome setup = setUp(app, seconds);
        ASSERT_EQ(setup.status, 0) << setup.err;
        ASSERT_EQ(setup.out, "READY\n");
        ASSERT_TRUE(waitUntil([&] { return overrideOn(); }, 5 + slack))
            << "the watcher did not switch the override on\n"
            << machine.jobsLog();
    }

    // Read straight from the machine's state, so that polling it is cheap.
    bool overrideOn() const { return readFile(machine.machineFile("sleep-disabled")) == "1\n"; }

    void expectRestoredWithin(double seconds) const {
        EXPECT_TRUE(waitUntil([&] { return machine.restored(); }, seconds + slack))
            << machine.sandbox({"state"}).out << machine.jobsLog();
    }

    int watcherPid() const {
        auto values = machine.state();
        return values["watcher-pid"] == "none" ? 0 : std::stoi(values["watcher-pid"]);
    }

    // Makes `change` under a paused watcher, then ends it: the service manager starts the
    // next one, which finds the changed machine at its start.
    void changeUnderEndedWatcher(const std::function<void()>& change) const {
        const int watcher = watcherPid();
        ASSERT_GT(watcher, 0);
        ASSERT_EQ(::kill(watcher, SIGSTOP), 0);
        change();
        ASSERT_EQ(::kill(watcher, SIGKILL), 0);
    }

    SandboxedMachine machine;
};

} // namespace vesperon::e2e
