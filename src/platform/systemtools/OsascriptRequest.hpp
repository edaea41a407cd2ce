#pragma once

#include <string>
#include <vector>

#include "app/PrivilegedRequest.hpp"
#include "app/PromptProcess.hpp"
#include "common/Scheduler.hpp"

namespace vesperon {

// The administrator prompt: runs `osascript -e 'do shell script "…" with
// administrator privileges'` for this executable and the given arguments. Status 0
// is success; the text is whatever the prompt and the command wrote.
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
    static PromptProcess::Answer answer(int status, std::string output);

    PromptProcess process_;
    std::string osascriptPath_;
    std::string executablePath_;
};

} // namespace vesperon
