#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/Error.hpp"
#include "common/OwnedFd.hpp"

namespace vesperon {

// One application per user. The running instance holds an exclusive lock on a file in
// a private (0700) per-user folder for its whole life and listens on a local socket
// beside it; a later start finds the lock taken and hands its URLs to that socket
// instead of starting a second application. The lock, not the socket file, says who
// is alive: a socket left behind by a crash is taken over, a live one never.
//
// All of this runs in the executable, before the GUI module is loaded, so a second
// start costs a connect and a write.

// The instance's listening socket and the lock that makes it the only one. The lock
// must stay open for the life of the process.
struct InstanceClaim {
    OwnedFd lock;
    OwnedFd listener;
    std::string socketPath;
};

// Another instance holds the lock.
struct InstanceRunning {
    std::string socketPath;
};

using InstanceOutcome = std::variant<InstanceClaim, InstanceRunning>;

// The per-user folder: "<sandbox>/vesperon-UID" on a sandboxed machine; otherwise
// "vesperon" in the session's runtime folder ($XDG_RUNTIME_DIR, else /run/user/UID)
// when that is a real folder of this user that nobody else may enter; otherwise
// ".cache/vesperon" in the user's home. A shared folder such as /tmp, where another
// account could create the folder first, only for an account without a home.
[[nodiscard]] std::string instanceFolderPath();
// The choice above among given runtime folders (the first fit wins) and a home.
[[nodiscard]] std::string instanceFolderIn(const std::vector<std::string>& runtimeFolders,
                                           const std::string& home);

// Creates `folder` (mode 0700) if needed and checks that it is a real folder of this
// user that nobody else can enter; then takes the lock or finds it taken.
[[nodiscard]] Result<InstanceOutcome> claimInstance(const std::string& folder);

// Makes this process the instance, or hands `urls` to the running one and waits for
// its receipt, all within `seconds`. An instance that has just been killed still holds
// its lock and socket for a moment; one that takes no connection, or drops it
// unanswered, is waited for until its lock is free, and then taken over. The claim
// when this process is now the instance; nothing when the running one has the URLs;
// an error that says what happened otherwise (refused, no answer in time, a lock held
// by a process that does not listen).
[[nodiscard]] Result<std::optional<InstanceClaim>>
claimOrHandOver(const std::string& folder, const std::vector<std::string>& urls,
                double seconds = 10.0);

// The hand-over message: the payload's length in decimal and a line feed, then each
// URL followed by a NUL byte. The length tells the running instance when it has all.
inline constexpr std::size_t handOverLimit = std::size_t{64} * 1024;
inline constexpr std::string_view handOverReceipt = "OK\n";
[[nodiscard]] std::string encodeHandOver(const std::vector<std::string>& urls);
// The URLs once `received` holds a whole message; nothing while more is to come; an
// error when it cannot become a well-formed message.
[[nodiscard]] Result<std::optional<std::vector<std::string>>>
decodeHandOver(std::string_view received);

} // namespace vesperon
