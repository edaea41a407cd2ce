// The recovery service and the sleep override through the system tools at the
// layout's paths: launchctl and pmset on macOS, their stand-ins in the sandbox.
#include "platform/RootServices.hpp"

#include <string>

#include "common/ErrorDomains.hpp"
#include "platform/SystemLayout.hpp"
#include "platform/ToolRunner.hpp"

namespace vesperon {
namespace {

// launchctl's status for "print" of a job that is not loaded.
constexpr int jobNotLoadedStatus = 113;

// One line, so the caller can show the tool's words as they are.
std::string singleLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    std::string line;
    for (const char c : text) {
        if (c == '\n') {
            line += "; ";
        } else if (c != '\r') {
            line += c;
        }
    }
    return line;
}

// "<tool> <command> failed with status N: <its output>." as one line.
Result<void> toolOutcome(const ToolResult& result, const std::string& what) {
    if (result.status == 0) {
        return {};
    }
    const std::string output = singleLine(result.output);
    return fail(errorDomain::systemTool,
                what + " failed with status " + std::to_string(result.status) +
                    (output.empty() ? std::string(".") : ": " + output),
                result.status);
}

} // namespace

Result<void> startRecoveryService() {
    const SystemLayout& layout = systemLayout();
    return toolOutcome(run(layout.launchctlPath, {"bootstrap", "system", layout.jobPath}),
                       "launchctl bootstrap");
}

Result<void> stopRecoveryService() {
    const SystemLayout& layout = systemLayout();
    return toolOutcome(run(layout.launchctlPath, {"bootout", layout.jobTarget()}),
                       "launchctl bootout");
}

ServiceState recoveryServiceState() {
    const SystemLayout& layout = systemLayout();
    const int status = run(layout.launchctlPath, {"print", layout.jobTarget()}).status;
    return status == 0                    ? ServiceState::Loaded
           : status == jobNotLoadedStatus ? ServiceState::NotLoaded
                                          : ServiceState::Unknown;
}

Result<void> switchSleepOverride(bool on) {
    return toolOutcome(run(systemLayout().pmsetPath, {"-a", "disablesleep", on ? "1" : "0"}),
                       "pmset disablesleep");
}

void putDisplayToSleep() {
    (void)run(systemLayout().pmsetPath, {"displaysleepnow"});
}

} // namespace vesperon
