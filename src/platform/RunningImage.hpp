#pragma once

#include <string>

namespace vesperon {

// A path that opens the file this process is running from, whatever name it was
// started by: argv[0] is chosen by the caller and may name any file.
[[nodiscard]] std::string runningImagePath();

// The absolute path of the running executable, for naming it to others (the
// administrator prompt) and for finding files installed beside it; empty when the
// system does not say.
[[nodiscard]] std::string executablePath();

} // namespace vesperon
