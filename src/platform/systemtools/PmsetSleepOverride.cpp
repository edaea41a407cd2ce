// The sleep override as the power tool reports it ("pmset -g").
#include "platform/SleepOverride.hpp"

#include "platform/SystemLayout.hpp"
#include "platform/SystemProbes.hpp"
#include "platform/ToolRunner.hpp"

namespace vesperon {

std::optional<bool> readSleepOverride() {
    const ToolResult result = run(systemLayout().pmsetPath, {"-g"});
    if (result.status != 0) {
        return std::nullopt;
    }
    return parseSleepDisabled(result.output);
}

} // namespace vesperon
