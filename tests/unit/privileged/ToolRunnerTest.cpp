#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "ChildProcess.hpp"
#include "platform/ToolRunner.hpp"

namespace vesperon {
namespace {

ToolResult shell(const std::string& script) {
    return run("/bin/sh", {"-c", script});
}

TEST(ToolRunner, ExitStatusAndMergedOutputInWrittenOrder) {
    const ToolResult result = shell("echo one; echo two >&2; echo three; exit 7");
    EXPECT_EQ(result.status, 7);
    EXPECT_EQ(result.output, "one\ntwo\nthree\n");
    EXPECT_EQ(shell("true").status, 0);
    EXPECT_EQ(shell("true").output, "");
}

TEST(ToolRunner, ArgumentsArePassedAsTheyAre) {
    const ToolResult result =
        run("/usr/bin/printf", {"[%s]", "two words", "", "'quoted' \"x\" $HOME"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "[two words][]['quoted' \"x\" $HOME]");
}

TEST(ToolRunner, AToolPrintingOnlyToStandardError) {
    const ToolResult result = shell("echo 'Could not find service' >&2; exit 113");
    EXPECT_EQ(result.status, 113);
    EXPECT_EQ(result.output, "Could not find service\n");
}

TEST(ToolRunner, ALaunchFailureIsStatusMinusOneWithAMessage) {
    const ToolResult missing = run("/nonexistent/pmset", {"-g"});
    EXPECT_EQ(missing.status, -1);
    EXPECT_NE(missing.output.find("/nonexistent/pmset"), std::string::npos);
    EXPECT_NE(missing.output.find("No such file or directory"), std::string::npos);

    const ToolResult notExecutable = run("/etc/hostname", {});
    EXPECT_EQ(notExecutable.status, -1);
    EXPECT_FALSE(notExecutable.output.empty());
}

TEST(ToolRunner, ASignalEndingTheToolIsItsStatus) {
    EXPECT_EQ(shell("kill -TERM $$; sleep 5").status, 15);
    EXPECT_EQ(shell("kill -KILL $$").status, 9);
}

TEST(ToolRunner, OutputThatIsNotUtf8IsEmpty) {
    EXPECT_EQ(shell("printf 'ok \\377\\n'").output, "");
    EXPECT_EQ(shell("printf '\\303\\251t\\342\\200\\250'").output, "\xC3\xA9t\xE2\x80\xA8");
    EXPECT_EQ(shell("printf '\\300\\257'").output, "");      // overlong "/"
    EXPECT_EQ(shell("printf '\\355\\240\\200'").output, ""); // a surrogate
}

TEST(ToolRunner, AChattyToolDoesNotBlockOnAFullPipe) {
    // Far more than a pipe holds, written before the tool exits.
    const double started = test::monotonicSeconds();
    const ToolResult result = shell("head -c 1000000 /dev/zero | tr '\\0' x; echo; echo done");
    EXPECT_LT(test::monotonicSeconds() - started, 5.0);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output.size(), 1000000u + 6u);
    EXPECT_TRUE(result.output.ends_with("x\ndone\n"));
}

TEST(ToolRunner, ADescendantHoldingThePipeDoesNotHoldUsUp) {
    const double started = test::monotonicSeconds();
    const ToolResult result = shell("sleep 30 & echo started");
    EXPECT_LT(test::monotonicSeconds() - started, 3.0);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "started\n");
}

TEST(ToolRunner, NoDescriptorOfOursReachesTheTool) {
    // A descriptor opened without close-on-exec, like one a careless library leaves.
    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 0);
    const int high = ::dup2(leaked, 57);
    ASSERT_EQ(high, 57);
    const ToolResult result =
        shell("if [ -e /proc/$$/fd/57 ]; then echo open; else echo closed; fi; ls /proc/$$/fd");
    ::close(leaked);
    ::close(high);
    EXPECT_EQ(result.output.substr(0, result.output.find('\n')), "closed");
}

TEST(ToolRunner, AToolThatIgnoresTerminateIsKilledAfterTenSecondsAndAGrace) {
    // It also writes without pause, which must neither stall the clock nor fill memory.
    const double started = test::monotonicSeconds();
    const ToolResult result = shell("trap '' TERM; exec yes");
    const double elapsed = test::monotonicSeconds() - started;
    EXPECT_EQ(result.status, 9);
    EXPECT_GE(elapsed, 10.2);
    EXPECT_LT(elapsed, 11.5);
    EXPECT_EQ(result.output.size(), std::size_t{1} << 20); // kept up to the limit
    EXPECT_TRUE(result.output.starts_with("y\ny\n"));
}

} // namespace
} // namespace vesperon
