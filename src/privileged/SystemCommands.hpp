#pragma once

#include "privileged/ToolRunner.hpp"

namespace vesperon {

// The system-tool commands of the root side, run through `run` at the layout's paths.

// The service tool's answer to "print" for a job that is not loaded.
constexpr int jobNotLoadedStatus = 113;

ToolResult bootstrapJob(); // launchctl bootstrap system <jobPath>
ToolResult bootoutJob();   // launchctl bootout system/<label>
int printJobStatus();      // launchctl print system/<label>: 113 when not loaded

ToolResult switchSleepOverride(bool on); // pmset -a disablesleep 1|0
void putDisplayToSleep();                // pmset displaysleepnow, result ignored

} // namespace vesperon
