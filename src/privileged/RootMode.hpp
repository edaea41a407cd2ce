#pragma once

#include <string>
#include <vector>

namespace vesperon {

// The root modes "--setup", "--restore" and "--watch" with their checks, in order:
// effective user root, an argument to look at, then the mode. Returns the exit status.
int rootMode(const std::vector<std::string>& args);

} // namespace vesperon
