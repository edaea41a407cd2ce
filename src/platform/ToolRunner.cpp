#include "platform/ToolRunner.hpp"

#include <cstdlib>

#include "common/ChildProcess.hpp"
#include "common/Utf8Text.hpp"
#include "platform/ContinuousClock.hpp"

namespace vesperon {
namespace {

// The tools are system programs run with root rights: they get a fixed environment,
// never the caller's, so nothing the user set (a library path, a locale, a home)
// can change what they do.
std::vector<std::string> toolEnvironment() {
    std::vector<std::string> entries{"PATH=/usr/bin:/bin:/usr/sbin:/sbin", "LC_ALL=C"};
#if defined(VESPERON_PLATFORM_SANDBOX)
    // The stand-in tools act on the sandboxed machine, and sanitizer builds keep
    // their settings in the programs they start.
    for (const char* name : {"VESPERON_SANDBOX", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name)) {
            entries.push_back(std::string(name) + "=" + value);
        }
    }
#endif
    return entries;
}

} // namespace

ToolResult run(const std::string& path, const std::vector<std::string>& arguments) {
    auto child = ChildProcess::start(ChildSpec{.path = path,
                                               .arguments = arguments,
                                               .environment = toolEnvironment(),
                                               .input = ChildSpec::Input::Inherit,
                                               .output = ChildSpec::Output::Combined,
                                               .workingFolder = {}});
    if (!child) {
        return ToolResult{-1, child.error().message};
    }
    // The tools we run print a few lines; anything beyond the limit is read and
    // dropped, so that a chatty tool can neither block on a full pipe nor exhaust
    // memory.
    ChildProcess::Outcome outcome = child->collect(ChildProcess::Limits{
        .seconds = 10.0,
        .now = &continuousSeconds,
        .maxOutputBytes = 1 << 20,
        .grace = std::chrono::milliseconds(200),
    });
    if (!isValidUtf8(outcome.output)) {
        outcome.output.clear();
    }
    return ToolResult{outcome.exitCodeOrSignal(), std::move(outcome.output)};
}

} // namespace vesperon
