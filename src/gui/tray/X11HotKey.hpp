#pragma once

#include <QAbstractNativeEventFilter>
#include <cstdint>
#include <functional>
#include <vector>

#include "app/HotKey.hpp"

namespace vesperon::gui {

// The global shortcut Control+Alt+Super+Space as a key grab on the X server's root
// window, for every combination of the lock modifiers (Caps Lock, Num Lock, Scroll
// Lock), so the shortcut works whatever lock is on. Registering fails when another
// client already grabs the combination, and wherever the display is not X11 (a
// Wayland session, which offers global shortcuts only through a desktop portal).
class X11HotKey final : public HotKey, private QAbstractNativeEventFilter {
  public:
    X11HotKey() = default;
    ~X11HotKey() override;
    X11HotKey(const X11HotKey&) = delete;
    X11HotKey& operator=(const X11HotKey&) = delete;

    bool registerShortcut(std::function<void()> pressed) override;

  private:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    void ungrabAll();

    std::function<void()> pressed_;
    std::uint8_t keycode_ = 0;
    std::uint16_t modifiers_ = 0; // Control, Alt and Super as this server maps them
    std::uint16_t lockMask_ = 0;  // every lock modifier
    std::vector<std::uint16_t> grabbed_;
    bool filtering_ = false;
};

} // namespace vesperon::gui
