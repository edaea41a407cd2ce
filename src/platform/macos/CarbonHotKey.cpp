#include "platform/macos/CarbonHotKey.hpp"

#include <Carbon/Carbon.h>

namespace vesperon::platform {
namespace {

constexpr UInt32 spaceKeyCode = 49; // kVK_Space
constexpr UInt32 shortcutModifiers = cmdKey | optionKey | controlKey;
constexpr OSType shortcutSignature = 'VSPN';

OSStatus handleHotKey(EventHandlerCallRef, EventRef, void* userData) {
    return static_cast<OSStatus>(CarbonHotKey::onPressed(userData));
}

} // namespace

struct CarbonHotKey::Handles {
    EventHandlerRef handler = nullptr;
    EventHotKeyRef hotKey = nullptr;
};

CarbonHotKey::CarbonHotKey() : handles_(std::make_unique<Handles>()) {}

CarbonHotKey::~CarbonHotKey() {
    // The hot key first: no press may reach a handler that is going.
    if (handles_->hotKey != nullptr) {
        (void)UnregisterEventHotKey(handles_->hotKey);
    }
    if (handles_->handler != nullptr) {
        (void)RemoveEventHandler(handles_->handler);
    }
}

int CarbonHotKey::onPressed(void* userData) {
    auto* self = static_cast<CarbonHotKey*>(userData);
    if (self == nullptr || !self->pressed_) {
        return eventNotHandledErr;
    }
    self->pressed_();
    return noErr;
}

bool CarbonHotKey::registerShortcut(std::function<void()> pressed) {
    pressed_ = std::move(pressed);
    if (handles_->handler == nullptr) {
        const EventTypeSpec hotKeyPressed{kEventClassKeyboard, kEventHotKeyPressed};
        // The user data is this object, not retained: the destructor removes the handler.
        if (InstallEventHandler(GetApplicationEventTarget(), NewEventHandlerUPP(handleHotKey), 1,
                                &hotKeyPressed, this, &handles_->handler) != noErr) {
            handles_->handler = nullptr;
            return false;
        }
    }
    if (handles_->hotKey != nullptr) {
        return true;
    }
    const EventHotKeyID identifier{shortcutSignature, 1};
    // No options: eventHotKeyExistsErr when another application holds the combination.
    if (RegisterEventHotKey(spaceKeyCode, shortcutModifiers, identifier,
                            GetApplicationEventTarget(), 0, &handles_->hotKey) != noErr) {
        handles_->hotKey = nullptr;
        return false;
    }
    return true;
}

} // namespace vesperon::platform
