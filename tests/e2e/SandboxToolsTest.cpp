// The sandboxed machine's administrator prompt, which the application's stop and start
// requests go through, runs only the one script form the real prompt grants.
#include <gtest/gtest.h>

#include "SandboxedMachine.hpp"

namespace vesperon::e2e {
namespace {

TEST(SandboxTools, AdminPromptRunsOnlyAWellFormedGrantedScript) {
    SandboxedMachine machine;
    ASSERT_EQ(machine.failure(), "");
    const std::string marker = machine.root() + "/ran";
    const std::string command = "touch " + marker;
    const std::string script = "do shell script \"" + command + "\" with administrator privileges";
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-e", "do shell script \"" + command + "\""},
             {"-e", script + " extra"},
             {"-e", "do shell script \"" + command + "\\q\" with administrator privileges"},
             {"-e", "do shell script " + command + " with administrator privileges"},
             {script},
             {"-e", script, "-e", "x"}}) {
        const ProcessOutcome ran = machine.tool("/usr/bin/osascript", args);
        EXPECT_NE(ran.status, 0) << args.back();
        EXPECT_FALSE(ran.err.empty()) << args.back();
    }
    ASSERT_EQ(machine.sandbox({"prompt", "cancel"}).status, 0);
    const ProcessOutcome cancelled = machine.tool("/usr/bin/osascript", {"-e", script});
    EXPECT_EQ(cancelled.status, 1);
    EXPECT_NE(cancelled.err.find("execution error: User canceled. (-128)"), std::string::npos);
    EXPECT_FALSE(pathExists(marker));
    ASSERT_EQ(machine.sandbox({"prompt", "grant"}).status, 0);
    EXPECT_EQ(machine.tool("/usr/bin/osascript", {"-e", script}).status, 0);
    EXPECT_TRUE(pathExists(marker));
}

} // namespace
} // namespace vesperon::e2e
