#include "ChildProcess.hpp"

#include "FileContents.hpp"

#include <algorithm>
#include <chrono>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vesperon::testing {
namespace {

// `argv` with our environment plus `extra`, errors to `errorPath`.
ChildSpec specFor(const std::vector<std::string>& argv, const std::vector<std::string>& extra,
                  ChildSpec::Output output, std::string errorPath) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('=') + 1);
        if (std::ranges::none_of(extra,
                                 [&](const std::string& e) { return e.starts_with(name); })) {
            env.push_back(text);
        }
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return ChildSpec{.path = argv.at(0),
                     .arguments = {argv.begin() + 1, argv.end()},
                     .environment = std::move(env),
                     .output = output,
                     .errorPath = std::move(errorPath),
                     .workingFolder = {}};
}

} // namespace

bool waitUntil(const std::function<bool()>& condition, double seconds) {
    const double deadline = steadySeconds() + seconds;
    while (!condition()) {
        if (steadySeconds() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

ProcessOutcome runProcess(const std::vector<std::string>& argv,
                          const std::vector<std::string>& extraEnvironment, double timeoutSeconds) {
    // Standard error goes to a memory file the child opens by its path in /proc.
    ProcessOutcome outcome;
    const OwnedFd err(::memfd_create("err", MFD_CLOEXEC));
    const std::string errPath =
        "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(err.get());
    auto child = ChildProcess::start(
        specFor(argv, extraEnvironment, ChildSpec::Output::StandardOutput, errPath));
    if (child) {
        const auto ended = child->collect({.seconds = timeoutSeconds});
        const int status = ended.waitStatus.value_or(-1);
        outcome.status = !ended.waitStatus   ? -1
                         : WIFEXITED(status) ? WEXITSTATUS(status)
                                             : 128 + WTERMSIG(status);
        outcome.out = ended.output;
    }
    outcome.err = readFile(errPath);
    return outcome;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::vector<std::string>& extraEnvironment) {
    if (auto child =
            ChildProcess::start(specFor(argv, extraEnvironment, ChildSpec::Output::None, {}))) {
        pid_ = child->pid();
        child_.emplace(std::move(*child));
    }
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv, std::string& report,
                                     int seconds) {
    auto child = ChildProcess::start(specFor(argv, {}, ChildSpec::Output::StandardOutput, {}));
    const auto deadline = ChildProcess::Clock::now() + std::chrono::seconds(seconds);
    char c = 0;
    for (report.clear(); !report.ends_with('\n'); report += c) {
        if (!child || child->receive(&c, 1, deadline) != 1) {
            report.clear();
            return; // no report: the child ends with its object
        }
    }
    report.pop_back();
    pid_ = child->pid();
    child_.emplace(std::move(*child));
}

} // namespace vesperon::testing
