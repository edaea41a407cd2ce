#pragma once

#include <functional>
#include <memory>

#include "app/HotKey.hpp"

namespace vesperon::platform {

// The global shortcut Control-Option-Command-Space through the Carbon event manager
// (virtual key 49, modifiers 0x1900, identifier 'VSPN' 1, on the application event
// target). Created and used on the main thread; the handler runs there too.
class CarbonHotKey final : public HotKey {
  public:
    CarbonHotKey();
    ~CarbonHotKey() override;
    CarbonHotKey(const CarbonHotKey&) = delete;
    CarbonHotKey& operator=(const CarbonHotKey&) = delete;

    bool registerShortcut(std::function<void()> pressed) override;

    // What the event handler does: runs the callback of `userData` (a CarbonHotKey),
    // 0 (noErr) when it did, -9874 (eventNotHandledErr) without one.
    static int onPressed(void* userData);

  private:
    struct Handles;
    std::function<void()> pressed_;
    std::unique_ptr<Handles> handles_; // the Carbon handles, kept out of this header
};

} // namespace vesperon::platform
