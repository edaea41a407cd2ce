#pragma once

#include <string>

#include "privileged/SetupRequest.hpp"

namespace vesperon {

// "--setup": under the root lock, refuses when a session or its remains exist, then
// creates the root state folder with the watcher's copy of the running executable
// and the session record, installs and loads the watcher's job and prints "READY". A failure
// after the first change rolls back when the job is confirmed gone. Returns the exit
// status; the lock stays held until the process exits.
int setupMode(const SetupRequest& request);

} // namespace vesperon
