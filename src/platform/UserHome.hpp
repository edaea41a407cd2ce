#pragma once

#include <string>

namespace vesperon {

// The current user's home folder as the account database records it (the real user
// id's entry), never taken from the environment: the application and every hook
// process agree on it even when an agent runs its hooks with another HOME. On a
// sandboxed machine (sandbox builds with VESPERON_SANDBOX set) it is the machine's
// "home" folder instead. Empty when the account has no entry. Looked up on each
// call, so nothing is read before a caller needs it.
std::string userHomeFolder();

} // namespace vesperon
