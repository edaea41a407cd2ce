#pragma once

#include "app/AppDelegate.hpp"
#include "common/ProductInfo.hpp"
#include "common/Scheduler.hpp"

namespace vesperon {

// The support address opened by "Contact support…".
inline constexpr const char* supportAddress = product::supportAddress;

// This process: its executable (from the system, not from argv), the user's home
// folder as the account database has it (the sandboxed machine's home in a sandbox
// build, the same folder the hook endpoint uses), the temporary folder and the pid.
// Reads no environment variable.
AppEnvironment currentAppEnvironment();

// The parts the controller owns in the real application: preferences in
// ~/.config/vesperon/preferences.plist, the task runner on the platform's shell, the
// tracking run on the user's event folder, and Codex's own trust check.
AppParts defaultAppParts(Scheduler& scheduler, const AppEnvironment& environment);

} // namespace vesperon
