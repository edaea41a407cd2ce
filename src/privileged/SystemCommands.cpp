#include "privileged/SystemCommands.hpp"

#include "platform/SystemLayout.hpp"
#include "privileged/SystemProbes.hpp"

namespace vesperon {

ToolResult bootstrapJob() {
    const SystemLayout& layout = systemLayout();
    return run(layout.launchctlPath, {"bootstrap", "system", layout.jobPath});
}

ToolResult bootoutJob() {
    const SystemLayout& layout = systemLayout();
    return run(layout.launchctlPath, {"bootout", layout.jobTarget()});
}

int printJobStatus() {
    const SystemLayout& layout = systemLayout();
    return run(layout.launchctlPath, {"print", layout.jobTarget()}).status;
}

ToolResult switchSleepOverride(bool on) {
    return run(systemLayout().pmsetPath, {"-a", "disablesleep", on ? "1" : "0"});
}

void putDisplayToSleep() {
    (void)run(systemLayout().pmsetPath, {"displaysleepnow"});
}

std::optional<bool> readSleepOverride() {
    const ToolResult result = run(systemLayout().pmsetPath, {"-g"});
    if (result.status != 0) {
        return std::nullopt;
    }
    return parseSleepDisabled(result.output);
}

} // namespace vesperon
