#pragma once

#include <string>
#include <vector>

#include "app/BackgroundThreads.hpp"
#include "app/PrivilegedRequest.hpp"
#include "common/Scheduler.hpp"

namespace vesperon {

// The administrator prompt: runs `osascript -e 'do shell script "…" with
// administrator privileges'` for this executable and the given arguments. Both of
// the child's output streams go into one pipe; a background thread drains it, waits
// for the child and hands the answer to the main queue.
class OsascriptRequest final : public PrivilegedRequest {
  public:
    OsascriptRequest(Scheduler& mainQueue, std::string osascriptPath, std::string executablePath);
    // Waits for requests still running, so no answer outlives the request object.
    ~OsascriptRequest() override = default;

    OsascriptRequest(const OsascriptRequest&) = delete;
    OsascriptRequest& operator=(const OsascriptRequest&) = delete;

    void auth(const std::vector<std::string>& arguments, Done done) override;

    // The AppleScript source: each word shell-quoted, joined with blanks, the whole as
    // an AppleScript string literal.
    static std::string script(const std::string& executablePath,
                              const std::vector<std::string>& arguments);

  private:
    Scheduler& mainQueue_;
    std::string osascriptPath_;
    std::string executablePath_;
    BackgroundThreads waiters_; // last member: joined before the others go
};

} // namespace vesperon
