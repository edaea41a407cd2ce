#include <gtest/gtest.h>
#include <unistd.h>

#include "ChildProcess.hpp"
#include "FakeMachine.hpp"

namespace vesperon {
namespace {

test::ChildOutcome diagnose(const test::FakeMachine& machine) {
    return test::runChild({{VESPERON_EXECUTABLE_PATH, "--diagnose"}, machine.environment(), {}});
}

TEST(Diagnose, PrintsExactlyFiveLinesAboutTheMachine) {
    test::FakeMachine machine;
    const test::ChildOutcome fresh = diagnose(machine);
    EXPECT_EQ(fresh.exitStatus, 0);
    EXPECT_EQ(fresh.out, "Battery above cutoff or charger connected: true\n"
                         "Thermal state: 0\n"
                         "Sleep override: Optional(false)\n"
                         "Lid closed: false\n"
                         "Recovery job exists: false\n");
    EXPECT_EQ(fresh.err, "Machine: sandbox at " + machine.root() + "\n");

    machine.setBattery(15, 100, false);
    machine.setThermal(2);
    machine.setOverride(true);
    machine.setLid(true);
    test::writeFile(machine.layout().jobPath, "");
    EXPECT_EQ(diagnose(machine).out, "Battery above cutoff or charger connected: false\n"
                                     "Thermal state: 2\n"
                                     "Sleep override: Optional(true)\n"
                                     "Lid closed: true\n"
                                     "Recovery job exists: true\n");
    for (const std::string& call : machine.launchctlCalls()) {
        EXPECT_EQ(call, "print system/local.vesperon.session"); // it changes nothing
    }
    EXPECT_EQ(machine.pmsetCalls(), (std::vector<std::string>{"-g", "-g"}));

    // A job still loaded after its file is gone is a job all the same.
    ::unlink(machine.layout().jobPath.c_str());
    machine.setJobLoaded(true);
    EXPECT_TRUE(diagnose(machine).out.ends_with("Recovery job exists: true\n"));
}

TEST(Diagnose, AnUnreadableOverrideIsNil) {
    test::FakeMachine machine;
    machine.failPower(1);
    const test::ChildOutcome outcome = diagnose(machine);
    EXPECT_EQ(outcome.exitStatus, 0);
    EXPECT_NE(outcome.out.find("\nSleep override: nil\n"), std::string::npos) << outcome.out;
}

TEST(Diagnose, NeedsNoRootRights) {
    test::FakeMachine machine;
    const test::ChildOutcome outcome =
        test::runChild({{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                         VESPERON_EXECUTABLE_PATH, "--diagnose"},
                        machine.environment(),
                        {}});
    EXPECT_EQ(outcome.exitStatus, 0);
    EXPECT_EQ(std::count(outcome.out.begin(), outcome.out.end(), '\n'), 5);
}

} // namespace
} // namespace vesperon
