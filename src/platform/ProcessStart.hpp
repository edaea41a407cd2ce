#pragma once

namespace vesperon {

// How far the wall clock may have been set or slewed between a process's start and
// now before a start time read from it is misjudged.
inline constexpr double wallClockSlackSeconds = 1.0;

// Whether a process that the system says began at `startedWallSeconds` (wall clock)
// began no later than `startedNoLaterThan` on the continuous clock, given both clocks'
// readings now. For systems that date a process only by the wall clock: the two
// clocks run at one rate, so the start's age carries over from one to the other.
[[nodiscard]] constexpr bool startedNoLater(double startedWallSeconds, double wallNow,
                                            double continuousNow, double startedNoLaterThan) {
    const double startedContinuous = continuousNow - (wallNow - startedWallSeconds);
    return startedContinuous <= startedNoLaterThan + wallClockSlackSeconds;
}

} // namespace vesperon
