#pragma once

namespace vesperon {

// Seconds on a monotonic clock that keeps counting while the machine sleeps. Values
// from different boots are not comparable; the session record pairs them with the
// boot identifier.
double continuousSeconds();

} // namespace vesperon
