#pragma once

namespace vesperon {

// Seconds on a monotonic clock that keeps counting while the machine sleeps. Values
// from different boots are not comparable; the session record pairs them with the
// boot identifier.
double continuousSeconds();

// Wall-clock seconds since 1970-01-01 UTC: for file dates and the informational
// deadline only, never for deciding how much of a session is left.
double wallClockSeconds();

} // namespace vesperon
