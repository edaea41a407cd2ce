#pragma once

#include <string>

namespace vesperon {

// A path that opens the file this process is running from, whatever name it was
// started by: argv[0] is chosen by the caller and may name any file.
std::string runningImagePath();

} // namespace vesperon
