#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vesperon {

// Runs this executable as root with the given arguments, through the administrator
// prompt. `done` is called exactly once, on the main queue, with whether the prompt
// was granted and the command succeeded, and everything the command (or the prompt)
// wrote. The caller's thread never waits for the child.
class PrivilegedRequest {
  public:
    using Done = std::function<void(bool success, std::string output)>;

    virtual ~PrivilegedRequest() = default;
    virtual void auth(const std::vector<std::string>& arguments, Done done) = 0;
};

} // namespace vesperon
