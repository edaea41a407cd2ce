#pragma once

#include <time.h>

namespace vesperon::platform {

// Seconds on a clock that keeps counting while the machine sleeps and restarts at boot:
// CLOCK_BOOTTIME on Linux; on macOS CLOCK_MONOTONIC is that clock (its manual page:
// it "will continue to increment while the system is asleep"), and CLOCK_BOOTTIME
// does not exist there.
[[nodiscard]] inline double suspendCountingSeconds() {
#if defined(__APPLE__)
    constexpr clockid_t clock = CLOCK_MONOTONIC;
#else
    constexpr clockid_t clock = CLOCK_BOOTTIME;
#endif
    timespec now{};
    ::clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace vesperon::platform
