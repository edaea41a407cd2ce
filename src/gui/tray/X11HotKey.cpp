#include "gui/tray/X11HotKey.hpp"

#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

namespace vesperon::gui {
namespace {

constexpr std::uint32_t keysymSpace = 0x0020;
constexpr std::uint32_t keysymSuperL = 0xffeb;
constexpr std::uint32_t keysymSuperR = 0xffec;
constexpr std::uint32_t keysymAltL = 0xffe9;
constexpr std::uint32_t keysymAltR = 0xffea;
constexpr std::uint32_t keysymNumLock = 0xff7f;
constexpr std::uint32_t keysymScrollLock = 0xff14;

template <class Reply> using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

xcb_connection_t* x11Connection() {
    auto* application = qGuiApp;
    if (application == nullptr) {
        return nullptr;
    }
    auto* x11 = application->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

// The server's keyboard: which keycodes carry which keysyms, and which modifier bit
// each modifier key sets.
class KeyboardMap {
  public:
    explicit KeyboardMap(xcb_connection_t* connection) {
        const xcb_setup_t* setup = xcb_get_setup(connection);
        minKeycode_ = setup->min_keycode;
        const auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
        keyboard_.reset(xcb_get_keyboard_mapping_reply(
            connection, xcb_get_keyboard_mapping(connection, minKeycode_, count), nullptr));
        modifiers_.reset(xcb_get_modifier_mapping_reply(
            connection, xcb_get_modifier_mapping(connection), nullptr));
    }

    bool valid() const { return keyboard_ && modifiers_; }

    std::uint8_t keycode(std::uint32_t keysym) const {
        const int perCode = keyboard_->keysyms_per_keycode;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(keyboard_.get());
        const int total = xcb_get_keyboard_mapping_keysyms_length(keyboard_.get());
        for (int index = 0; perCode > 0 && index < total; ++index) {
            if (syms[index] == keysym) {
                return static_cast<std::uint8_t>(minKeycode_ + index / perCode);
            }
        }
        return 0;
    }

    // The modifier bit that a key with either keysym sets; `fallback` when none does.
    std::uint16_t modifier(std::uint32_t keysym, std::uint32_t other,
                           std::uint16_t fallback) const {
        const std::uint8_t codes[] = {keycode(keysym), keycode(other)};
        const int perModifier = modifiers_->keycodes_per_modifier;
        const xcb_keycode_t* table = xcb_get_modifier_mapping_keycodes(modifiers_.get());
        for (int bit = 0; bit < 8; ++bit) {
            for (int slot = 0; slot < perModifier; ++slot) {
                const xcb_keycode_t code = table[bit * perModifier + slot];
                if (code != 0 && (code == codes[0] || code == codes[1])) {
                    return static_cast<std::uint16_t>(1u << bit);
                }
            }
        }
        return fallback;
    }

  private:
    std::uint8_t minKeycode_ = 0;
    ReplyPtr<xcb_get_keyboard_mapping_reply_t> keyboard_{nullptr, &std::free};
    ReplyPtr<xcb_get_modifier_mapping_reply_t> modifiers_{nullptr, &std::free};
};

xcb_window_t rootWindow(xcb_connection_t* connection) {
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

} // namespace

X11HotKey::~X11HotKey() {
    ungrabAll();
    if (filtering_ && QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

bool X11HotKey::registerShortcut(std::function<void()> pressed) {
    xcb_connection_t* connection = x11Connection();
    if (connection == nullptr) {
        return false; // not an X11 display
    }
    const KeyboardMap keyboard(connection);
    if (!keyboard.valid()) {
        return false;
    }
    keycode_ = keyboard.keycode(keysymSpace);
    if (keycode_ == 0) {
        return false;
    }
    const std::uint16_t alt = keyboard.modifier(keysymAltL, keysymAltR, XCB_MOD_MASK_1);
    const std::uint16_t super = keyboard.modifier(keysymSuperL, keysymSuperR, XCB_MOD_MASK_4);
    const std::uint16_t numLock = keyboard.modifier(keysymNumLock, keysymNumLock, XCB_MOD_MASK_2);
    const std::uint16_t scrollLock = keyboard.modifier(keysymScrollLock, keysymScrollLock, 0);
    modifiers_ = static_cast<std::uint16_t>(XCB_MOD_MASK_CONTROL | alt | super);
    const std::uint16_t locks[] = {XCB_MOD_MASK_LOCK, numLock, scrollLock};
    lockMask_ =
        static_cast<std::uint16_t>((XCB_MOD_MASK_LOCK | numLock | scrollLock) & ~modifiers_);

    // Every subset of the lock modifiers, each grabbed and checked: the server answers
    // BadAccess when another client holds the combination.
    std::vector<std::uint16_t> variants{0};
    for (std::uint16_t lock : locks) {
        if (lock == 0 || (lock & modifiers_) != 0) {
            continue;
        }
        const std::size_t count = variants.size();
        for (std::size_t index = 0; index < count; ++index) {
            if ((variants[index] & lock) == 0) {
                variants.push_back(static_cast<std::uint16_t>(variants[index] | lock));
            }
        }
    }
    const xcb_window_t root = rootWindow(connection);
    std::vector<xcb_void_cookie_t> cookies;
    cookies.reserve(variants.size());
    for (std::uint16_t variant : variants) {
        cookies.push_back(xcb_grab_key_checked(connection, 0, root,
                                               static_cast<std::uint16_t>(modifiers_ | variant),
                                               keycode_, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    bool complete = true;
    for (std::size_t index = 0; index < cookies.size(); ++index) {
        if (xcb_generic_error_t* error = xcb_request_check(connection, cookies[index])) {
            complete = false;
            std::free(error);
        } else {
            grabbed_.push_back(variants[index]);
        }
    }
    if (!complete) {
        ungrabAll();
        return false;
    }
    pressed_ = std::move(pressed);
    QCoreApplication::instance()->installNativeEventFilter(this);
    filtering_ = true;
    return true;
}

void X11HotKey::ungrabAll() {
    xcb_connection_t* connection = grabbed_.empty() ? nullptr : x11Connection();
    if (connection != nullptr) {
        const xcb_window_t root = rootWindow(connection);
        for (std::uint16_t variant : grabbed_) {
            xcb_ungrab_key(connection, keycode_, root,
                           static_cast<std::uint16_t>(modifiers_ | variant));
        }
        xcb_flush(connection);
    }
    grabbed_.clear();
}

bool X11HotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !pressed_) {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS) {
        return false;
    }
    const auto* key = static_cast<const xcb_key_press_event_t*>(message);
    // The low byte holds the modifiers; the mouse buttons above it do not matter.
    const auto state = static_cast<std::uint16_t>(key->state & 0xff & ~lockMask_);
    if (key->detail != keycode_ || state != modifiers_) {
        return false;
    }
    pressed_();
    return true;
}

} // namespace vesperon::gui
