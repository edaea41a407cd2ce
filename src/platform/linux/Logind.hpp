#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "common/Error.hpp"
#include "platform/linux/SystemBus.hpp"

namespace vesperon::platform {

// logind's inhibitor locks. The sleep override of a session is one "block" lock on
// the lid switch, sleep and idle, taken by the watcher: closing its descriptor (or the
// watcher's death, or a reboot) gives normal sleep back. `uid` and `pid` are the
// holder's, as logind lists them (they are not asked for when taking a lock).
struct Inhibitor {
    std::string what;
    std::string who;
    std::string why;
    std::string mode;
    std::uint32_t uid = 0;
    std::uint32_t pid = 0;
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

// Whether `inhibitors` hold the session's override: a lock of exactly our what, who
// and mode, held by root in the watcher's process. Any account may take a block lock
// named "Vesperon" on idle (logind allows that to everyone): such a look-alike is
// not ours, and neither is a root lock of another process.
[[nodiscard]] bool holdsOverride(const std::vector<Inhibitor>& inhibitors, pid_t watcher);

} // namespace vesperon::platform
