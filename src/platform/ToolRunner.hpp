#pragma once

#include <string>
#include <vector>

namespace vesperon {

// How a system tool ended: its exit code, or the signal number when a signal ended
// it, or -1 when it could not be launched (then `output` says why).
struct ToolResult {
    int status = -1;
    std::string
        output; // standard output and standard error as the tool wrote them; "" if not UTF-8
};

// Runs the tool at the absolute `path` with `arguments`, standard input inherited and
// both output streams on one pipe. A tool still running after 10 s (on the continuous
// clock) gets SIGTERM, and SIGKILL 0.2 s later. Blocks the caller; never throws.
ToolResult run(const std::string& path, const std::vector<std::string>& arguments);

} // namespace vesperon
