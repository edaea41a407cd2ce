#include <cstdlib>
#include <gtest/gtest.h>

#include "StandInRootTools.hpp"
#include "platform/ToolRunner.hpp"

namespace vesperon::testing {
namespace {

TEST(ToolRunner, StatusAndMergedOutputOfWhatTheToolWrote) {
    const std::vector<std::tuple<std::string, int, std::string>> rows = {
        {"echo one; echo two >&2; echo three; exit 7", 7, "one\ntwo\nthree\n"},
        {"printf 'ok \\377\\n'", 0, ""}, // output that is not UTF-8 is empty
        {"printf '\\303\\251t\\342\\200\\250'", 0, "\xC3\xA9t\xE2\x80\xA8"}};
    for (const auto& [script, status, output] : rows) {
        const ToolResult result = run("/bin/sh", {"-c", script});
        EXPECT_EQ(result.status, status) << script;
        EXPECT_EQ(result.output, output) << script;
    }
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

} // namespace
} // namespace vesperon::testing
