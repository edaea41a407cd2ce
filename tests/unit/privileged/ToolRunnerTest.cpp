#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "StandInRootTools.hpp"
#include "platform/ToolRunner.hpp"

namespace vesperon::testing {
namespace {

TEST(ToolRunner, StatusAndMergedOutputOfWhatTheToolWrote) {
    // A descriptor opened without close-on-exec, like one a careless library leaves.
    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_EQ(::dup2(leaked, 57), 57);
    const std::vector<std::tuple<std::string, int, std::string>> rows = {
        {"echo one; echo two >&2; echo three; exit 7", 7, "one\ntwo\nthree\n"},
        {"kill -TERM $$; sleep 5", 15, ""},          // a signal is the status
        {"sleep 30 & echo started", 0, "started\n"}, // a descendant holding the pipe
        {"[ -e /proc/$$/fd/57 ] && echo open || echo closed", 0, "closed\n"},
        {"printf 'ok \\377\\n'", 0, ""},     // output that is not UTF-8 is empty
        {"printf '\\300\\257'", 0, ""},      // overlong "/"
        {"printf '\\355\\240\\200'", 0, ""}, // a surrogate
        {"printf '\\303\\251t\\342\\200\\250'", 0, "\xC3\xA9t\xE2\x80\xA8"}};
    for (const auto& [script, status, output] : rows) {
        const double started = steadySeconds();
        const ToolResult result = run("/bin/sh", {"-c", script});
        EXPECT_EQ(result.status, status) << script;
        EXPECT_EQ(result.output, output) << script;
        EXPECT_LT(steadySeconds() - started, 5.0) << script;
    }
    ::close(leaked);
    ::close(57);
    EXPECT_EQ(run("/usr/bin/printf", {"[%s]", "two words", "", "'q' $HOME"}).output,
              "[two words][]['q' $HOME]");
    // A tool runs as root: nothing of the caller's environment reaches it.
    ::setenv("LD_LIBRARY_PATH", "/tmp/planted", 1);
    const std::string environment = run("/usr/bin/env", {}).output;
    ::unsetenv("LD_LIBRARY_PATH");
    EXPECT_NE(environment.find("PATH=/usr/bin:/bin:/usr/sbin:/sbin\n"), std::string::npos);
    EXPECT_EQ(environment.find("LD_LIBRARY_PATH"), std::string::npos) << environment;
    EXPECT_EQ(environment.find("HOME="), std::string::npos) << environment;
    const ToolResult missing = run("/nonexistent/pmset", {"-g"});
    EXPECT_EQ(missing.status, -1);
    EXPECT_NE(missing.output.find("/nonexistent/pmset: No such file or directory"),
              std::string::npos)
        << missing.output;
}

TEST(ToolRunner, AToolThatIgnoresTerminateIsKilledAfterTenSecondsAndAGrace) {
    // It also writes without pause, which must neither stall the clock nor fill memory,
    // and it leaves a child behind, which must end with it.
    const TempFolder folder;
    const std::string childFile = folder.file("child");
    const double started = steadySeconds();
    const ToolResult result =
        run("/bin/sh", {"-c", "sleep 300 & echo $! > " + childFile + "; trap '' TERM; exec yes"});
    EXPECT_EQ(result.status, 9);
    EXPECT_GE(steadySeconds() - started, 10.2);
    EXPECT_LT(steadySeconds() - started, 20.0);
    EXPECT_EQ(result.output.size(), std::size_t{1} << 20); // kept up to the limit
    EXPECT_TRUE(result.output.starts_with("y\ny\n"));
    const pid_t child = std::stoi(readFile(childFile));
    const double waitUntil = steadySeconds() + 10.0;
    while (::kill(child, 0) == 0 && steadySeconds() < waitUntil) {
        ::usleep(20'000);
    }
    EXPECT_NE(::kill(child, 0), 0) << "the tool's child outlived it";
}

} // namespace
} // namespace vesperon::testing
