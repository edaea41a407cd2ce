#pragma once

#include <memory>
#include <string>

#include "app/PrivilegedRequest.hpp"
#include "common/Scheduler.hpp"

namespace vesperon {

// The platform's administrator prompt for `executablePath`, chosen by the build:
// osascript on macOS and the sandbox (at the layout's path), pkexec on Linux.
std::unique_ptr<PrivilegedRequest> makeAdminPrompt(Scheduler& mainQueue,
                                                   std::string executablePath);

} // namespace vesperon
