#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <sys/stat.h>
#include <sys/types.h>

#include "common/Error.hpp"

namespace vesperon {

// The current user's home folder as the account database records it (the real user
// id's entry), never taken from the environment: the application and every hook
// process agree on it even when an agent runs its hooks with another HOME. On a
// sandboxed machine (sandbox builds with VESPERON_SANDBOX set) it is the machine's
// "home" folder instead. Empty when the account has no entry. Looked up on each
// call, so nothing is read before a caller needs it.
//
// A local account is read straight from /etc/passwd: every hook process asks, and the
// name service would first try its sockets and load its modules. Accounts that the
// file does not hold (directory services, macOS users) go through getpwuid_r.
std::string userHomeFolder();

// The home folder of the first entry for `uid` in the text of a password file
// ("name:password:uid:gid:comment:home:shell" lines), or nothing when no well-formed
// entry has that id. Comments and the "+"/"-" lines that hand over to other services
// are skipped.
[[nodiscard]] std::optional<std::string> homeFolderInPasswordFile(std::string_view text, uid_t uid);

// This process's effective user id, asked once: a poll tests every file and folder it
// opens against it, and each geteuid() is a system call.
[[nodiscard]] uid_t ourUserId();

// Whether `info` describes a folder of this user that nobody else may enter.
[[nodiscard]] bool isPrivateFolderOfOurs(const struct stat& info);
// Whether `path` is absolute and names a real folder of this user, no link, that
// nobody else may enter.
[[nodiscard]] bool privateFolderOfOurs(const std::string& path);

// Makes `folder` a private folder of ours: creates it with mode 0700, or takes an
// existing real folder of this user (never a link) and takes away what others may do
// in it. An error when it belongs to another user or cannot be made private.
[[nodiscard]] Result<void> preparePrivateFolder(const std::string& folder);

// The login session's runtime folder, which the system keeps in memory and empties
// when the user's last session ends: $XDG_RUNTIME_DIR, else /run/user/UID, the first
// that is a private folder of ours. Empty when neither is.
[[nodiscard]] std::string userRuntimeFolder();

} // namespace vesperon
