#pragma once

#include "platform/SleepOverride.hpp"
#include "platform/ToolRunner.hpp"

namespace vesperon {

// How the root side drives the machine's service manager and sleep override. This is
// the platform seam of the root modes: the build picks one implementation. Sandbox
// and macOS run the system tools at the layout's paths (launchctl, pmset); Linux
// holds a logind inhibitor lock and runs the watcher as a transient systemd service,
// or as a detached daemon where systemd does not run. Results keep the tools' form:
// status 0 is success, and the output says what went wrong.

// The service tool's answer to "print" for a job that is not loaded.
constexpr int jobNotLoadedStatus = 113;

[[nodiscard]] ToolResult bootstrapJob(); // launchctl bootstrap system <jobPath>
[[nodiscard]] ToolResult bootoutJob();   // launchctl bootout system/<label>
int printJobStatus();                    // launchctl print system/<label>: 113 when not loaded

[[nodiscard]] ToolResult switchSleepOverride(bool on); // pmset -a disablesleep 1|0
void putDisplayToSleep();                              // pmset displaysleepnow, result ignored

} // namespace vesperon
