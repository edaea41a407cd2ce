#include "platform/RootServices.hpp"

#include "platform/SystemLayout.hpp"

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

} // namespace vesperon
