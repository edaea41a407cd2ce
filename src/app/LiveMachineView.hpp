#pragma once

#include "app/MachineView.hpp"

namespace vesperon {

// The machine this process runs on (or the sandboxed machine of a sandbox build):
// the root side's probes, the root state folder of the system layout, the clock
// that counts sleep, and the wall clock.
class LiveMachineView final : public MachineView {
  public:
    std::optional<bool> sleepDisabled() override;
    bool batterySafe() override;
    int thermalState() override;
    bool rootStateExists() override;
    double continuousSeconds() override;
    WallClock::time_point now() override;
};

} // namespace vesperon
