// On Linux the agents' event files live in the login session's runtime folder, which
// is in memory: the real hook executable writes there and the app's run reads there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

#include "ChildProcess.hpp"
#include "TempFolder.hpp"
#include "agents/AgentEventFiles.hpp"
#include "agents/AgentTrackingRun.hpp"

namespace vesperon {
namespace {

TEST(AgentEventFolder, IsInAPrivateRuntimeFolderWhereTheHookAndTheRunMeet) {
    const testing::TempFolder runtime("vesperon-runtime");
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    AgentTrackingRun run;
    ASSERT_EQ(run.rootFolder(), runtime.path() + "/vesperon/AgentEvents");
    ASSERT_TRUE(run.arm(std::string("claude")));
    const auto hook = testing::runProcess(
        {"/bin/sh", "-c",
         "echo '{\"session_id\":\"s1\",\"hook_event_name\":\"UserPromptSubmit\"}' | " +
             std::string(VESPERON_EXECUTABLE) + " --agent-event claude"});
    ASSERT_EQ(hook.status, 0) << hook.err;
    EXPECT_EQ(run.poll().busyCount, 1);

    // A runtime folder that others may enter is not used.
    ::chmod(runtime.path().c_str(), 0755);
    EXPECT_FALSE(AgentEventFiles::defaultFolder().starts_with(runtime.path()));
    ::chmod(runtime.path().c_str(), 0700);
    run.disarm();
    ::unsetenv("XDG_RUNTIME_DIR");
}

} // namespace
} // namespace vesperon
