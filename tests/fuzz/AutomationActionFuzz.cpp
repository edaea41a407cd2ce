#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "preferences/AutomationAction.hpp"

// Feeds arbitrary text to the URL parser and checks what any accepted URL must be.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using vesperon::AutomationAction;
    const std::string_view url(reinterpret_cast<const char*>(data), size);
    const auto action = AutomationAction::parse(url);
    if (!action) {
        return 0;
    }
    if (url.size() > AutomationAction::maxUrlLength) {
        __builtin_trap();
    }
    if (action->kind() == AutomationAction::Kind::stop) {
        if (url != "vesperon://stop" || action->seconds() != 0) {
            __builtin_trap();
        }
        return 0;
    }
    const std::int32_t seconds = action->seconds();
    if (seconds < 60 || seconds > 86'400 || seconds % 60 != 0 ||
        !url.starts_with("vesperon://start?minutes=")) {
        __builtin_trap();
    }
    // The digits after "minutes=" are all there is, and they say the same minutes.
    std::string_view digits = url.substr(std::string_view("vesperon://start?minutes=").size());
    std::int64_t minutes = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            __builtin_trap();
        }
        minutes = minutes * 10 + (c - '0');
        if (minutes > 1440) {
            __builtin_trap();
        }
    }
    if (minutes * 60 != seconds) {
        __builtin_trap();
    }
    const std::string canonical = "vesperon://start?minutes=" + std::to_string(minutes);
    if (AutomationAction::parse(canonical) != action) {
        __builtin_trap();
    }
    return 0;
}
