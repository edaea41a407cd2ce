#pragma once

namespace vesperon {

// "--watch", the recovery watcher run by launchd from the root state folder's copy:
// passes the first health test under the root lock and switches the sleep override
// on, polls every 2 s (putting the display to sleep when the lid closes) and runs the
// health test at once when the application ends or an entry appears in the session
// folder, and once the session is over for any reason restores normal sleep and
// removes the job.
// Returns the exit status: 0 once sleep is restored and the job removed, else 1.
int watchMode();

} // namespace vesperon
