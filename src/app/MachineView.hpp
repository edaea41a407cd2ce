#pragma once

#include <chrono>
#include <optional>

namespace vesperon {

// The machine as the session controller reads it: the probes, the root state
// folder's presence and the two clocks. Probes never fail: they answer nothing or
// false.
class MachineView {
  public:
    using WallClock = std::chrono::system_clock;

    virtual ~MachineView() = default;

    // The system-wide sleep override: on, off, or nothing when it cannot be read.
    virtual std::optional<bool> sleepDisabled() = 0;
    // On mains power, or the internal battery above its cutoff.
    virtual bool batterySafe() = 0;
    // 0 nominal, 1 fair, 2 serious, 3 critical.
    virtual int thermalState() = 0;
    // The root state folder exists: a session or its recovery is pending.
    virtual bool rootStateExists() = 0;
    // Monotonic seconds that keep counting while the machine sleeps.
    virtual double continuousSeconds() = 0;
    // The wall clock, for display only.
    virtual WallClock::time_point now() = 0;

    // Serious heat or worse ends or refuses a session.
    static constexpr int seriousThermalState = 2;
};

} // namespace vesperon
