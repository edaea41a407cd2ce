#pragma once

#include <string>

namespace vesperon {

// "--agent-event PROVIDER": reads the hook payload from standard input, hands it to
// the event bridge and always answers "{}" with status 0.
int hookEndpoint(const std::string& provider);

} // namespace vesperon
