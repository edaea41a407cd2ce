#pragma once

#include <string>

namespace vesperon {

// "--agent-event PROVIDER": reads the hook payload from standard input (at most
// 131,072 bytes are passed on; anything longer is dropped), hands it to the event
// bridge with the user's event folder, and always answers "{}" with status 0 so that
// a hook never fails or blocks the agent because of this program.
int hookEndpoint(const std::string& provider);

} // namespace vesperon
