#include <gtest/gtest.h>

#include <csignal>
#include <thread>
#include <tuple>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/ChildProcess.hpp"

namespace vesperon {
namespace {

using namespace std::chrono_literals;
using Output = ChildSpec::Output;

ChildProcess shell(const std::string& script, Output output = Output::Combined) {
    auto child = ChildProcess::start(ChildSpec{.path = "/bin/sh",
                                               .arguments = {"-c", script},
                                               .environment = std::nullopt,
                                               .input = ChildSpec::Input::None,
                                               .output = output,
                                               .workingFolder = "/"});
    EXPECT_TRUE(child) << child.error().message;
    return std::move(child.value());
}

// Waits up to 10 s for the process `pid` (no child of ours) to be gone.
bool gone(pid_t pid) {
    for (int i = 0; i < 500 && ::kill(pid, 0) == 0; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    return ::kill(pid, 0) != 0;
}

TEST(ChildProcess, ReportsExitCodesAndSignalsAndStartsCleanInItsOwnGroup) {
    // What this process ignores, and a descriptor it leaks, do not reach the child.
    const auto oldTerm = ::signal(SIGTERM, SIG_IGN);
    const OwnedFd leaked(::open("/dev/null", O_RDONLY)); // no close-on-exec on purpose
    ASSERT_EQ(::dup2(leaked.get(), 57), 57);
    const std::vector<std::tuple<std::string, Output, int, bool, std::string>> rows = {
        {"echo out; echo err >&2; exit 3", Output::Combined, 3, false, "out\nerr\n"},
        {"echo out; echo err >&2", Output::StandardOutput, 0, false, "out\n"},
        {"kill -TERM $$; exit 0", Output::Combined, SIGTERM, true, ""},
        {"set -- $(cat /proc/$$/stat); [ $5 = $$ ] && pwd", Output::Combined, 0, false, "/\n"},
        {"readlink /proc/$$/fd/0; [ -e /proc/$$/fd/57 ] || echo closed", Output::Combined, 0, false,
         "/dev/null\nclosed\n"}};
    const ChildProcess::Limits limits{.seconds = 30, .now = &ChildProcess::steadySeconds};
    for (const auto& [script, output, code, signalled, text] : rows) {
        const ChildProcess::Outcome outcome = shell(script, output).collect(limits);
        ASSERT_TRUE(outcome.waitStatus) << script;
        EXPECT_EQ(WIFSIGNALED(*outcome.waitStatus), signalled) << script;
        EXPECT_EQ(outcome.exitCodeOrSignal(), code) << script;
        EXPECT_EQ(outcome.output, text) << script;
        EXPECT_FALSE(outcome.timedOut) << script;
    }
    ::close(57);
    ::signal(SIGTERM, oldTerm);
}

TEST(ChildProcess, StopKillsAChildThatIgnoresTerminateAndWhatItStarted) {
    ChildProcess child = shell("trap '' TERM; sleep 300 & echo $!; sleep 300");
    std::string line;
    char buffer[32];
    while (!line.contains('\n')) {
        const std::size_t got =
            child.receive(buffer, sizeof buffer, ChildProcess::Clock::now() + 10s);
        ASSERT_GT(got, 0u);
        line.append(buffer, got);
    }
    const auto started = ChildProcess::Clock::now();
    const std::optional<int> status = child.stop(300ms);
    EXPECT_GE(ChildProcess::Clock::now() - started, 300ms);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL);
    EXPECT_FALSE(child.running());
    EXPECT_TRUE(gone(std::stoi(line))) << "the child's own child outlived it";
}

TEST(ChildProcess, CollectIsHeldNeitherByALingeringGrandchildNorByAChildPastItsDeadline) {
    const double started = ChildProcess::steadySeconds();
    const ChildProcess::Outcome lingering =
        shell("sleep 30 & echo started")
            .collect({.seconds = 30, .now = &ChildProcess::steadySeconds});
    EXPECT_EQ(lingering.output, "started\n");
    EXPECT_EQ(lingering.exitCodeOrSignal(), 0);
    EXPECT_LT(ChildProcess::steadySeconds() - started, 10.0);

    // It ignores TERM and writes without pause: stopped after the grace, its output
    // kept up to the limit.
    const ChildProcess::Outcome endless = shell("trap '' TERM; exec yes")
                                              .collect({.seconds = 0.5,
                                                        .now = &ChildProcess::steadySeconds,
                                                        .maxOutputBytes = 1000,
                                                        .grace = 200ms});
    EXPECT_TRUE(endless.timedOut);
    EXPECT_EQ(endless.exitCodeOrSignal(), SIGKILL);
    EXPECT_EQ(endless.output.size(), 1000u);
    EXPECT_GE(ChildProcess::steadySeconds() - started, 0.7);
}

} // namespace
} // namespace vesperon
