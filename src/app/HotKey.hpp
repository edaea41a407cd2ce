#pragma once

#include <functional>

namespace vesperon {

// The global shortcut Control-Option-Command-Space.
class HotKey {
  public:
    virtual ~HotKey() = default;

    // Registers the shortcut; `pressed` may be called on any thread for every press.
    // False when another application owns the combination.
    virtual bool registerShortcut(std::function<void()> pressed) = 0;

    // Called (on any thread) when a registration that `registerShortcut` accepted is
    // refused later, as a desktop portal may answer only after asking the user. Set
    // before registering.
    // By value: the implementations that can be refused keep the callback.
    // NOLINTNEXTLINE(performance-unnecessary-value-param)
    virtual void whenRefused(std::function<void()> /*refused*/) {}
};

} // namespace vesperon
