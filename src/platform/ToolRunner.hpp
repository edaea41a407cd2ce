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

// Runs the tool at the absolute `path` with `arguments`, standard input inherited,
// both output streams on one pipe and a fixed minimal environment, in a process group
// of its own. A tool still running after 10 s (on the continuous clock) gets SIGTERM,
// and SIGKILL 0.2 s later, together with everything it started. Blocks the caller;
// never throws.
[[nodiscard]] ToolResult run(const std::string& path, const std::vector<std::string>& arguments);

} // namespace vesperon
