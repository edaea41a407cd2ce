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
};

} // namespace vesperon
