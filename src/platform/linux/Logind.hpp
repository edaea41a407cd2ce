#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/Error.hpp"
#include "platform/linux/SystemBus.hpp"

namespace vesperon::platform {

// logind's inhibitor locks. The sleep override of a session is one "block" lock on
// the lid switch, sleep and idle, taken by the watcher: closing its descriptor (or the
// watcher's death, or a reboot) gives normal sleep back.
struct Inhibitor {
    std::string what;
    std::string who;
    std::string why;
    std::string mode;
};

inline constexpr const char* overrideWhat = "handle-lid-switch:sleep:idle";
inline constexpr const char* overrideWho = "Vesperon";
inline constexpr const char* overrideWhy = "A Vesperon session keeps the machine awake";
inline constexpr const char* overrideMode = "block";

// Takes an inhibitor lock; the descriptor that holds it (close-on-exec), or the
// reason it was refused.
[[nodiscard]] Result<int> takeInhibitor(SystemBus& bus, const Inhibitor& inhibitor);

// Every inhibitor logind holds; nothing when logind does not answer.
[[nodiscard]] std::optional<std::vector<Inhibitor>> listInhibitors(SystemBus& bus);

// Whether `inhibitors` hold the session's override (who and mode are ours).
[[nodiscard]] bool holdsOverride(const std::vector<Inhibitor>& inhibitors);

} // namespace vesperon::platform
