// Any URL the parser accepts is "vesperon://stop" or "vesperon://start?minutes=" and
// plain digits naming 1 to 1,440 minutes, which the action carries in seconds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "preferences/AutomationAction.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using vesperon::AutomationAction;
    const std::string_view url(reinterpret_cast<const char*>(data), size);
    const auto action = AutomationAction::parse(url);
    if (!action || url == "vesperon://stop") {
        if (action && *action != AutomationAction::stop()) {
            __builtin_trap();
        }
        return 0;
    }
    constexpr std::string_view start = "vesperon://start?minutes=";
    if (url.size() > AutomationAction::maxUrlLength || !url.starts_with(start) ||
        url.size() == start.size() ||
        url.find_first_not_of("0123456789", start.size()) != std::string_view::npos) {
        __builtin_trap();
    }
    std::string_view digits = url.substr(start.size());
    digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size()));
    const int minutes = digits.empty() || digits.size() > 4 ? 0 : std::stoi(std::string(digits));
    if (minutes < 1 || minutes > 1440 || *action != AutomationAction::start(minutes * 60)) {
        __builtin_trap();
    }
    return 0;
}
