#pragma once

#include <string>
#include <vector>

#include "app/PrivilegedRequest.hpp"
#include "app/PromptProcess.hpp"
#include "common/Scheduler.hpp"

namespace vesperon {

// The administrator prompt on Linux: runs `pkexec <executable> <arguments…>`. The
// installed executable has its own polkit action (auth_admin every time), so the
// desktop's polkit agent asks for an administrator's password.
class PkexecRequest final : public PrivilegedRequest {
  public:
    PkexecRequest(Scheduler& mainQueue, std::string pkexecPath, std::string executablePath);
    ~PkexecRequest() override = default;
    PkexecRequest(const PkexecRequest&) = delete;
    PkexecRequest& operator=(const PkexecRequest&) = delete;

    void auth(const std::vector<std::string>& arguments, Done done) override;

    // pkexec's own failures in words for the user: 126 when the prompt was dismissed,
    // 127 when authorisation was refused or could not be had. Any other status is the
    // helper's, and its output stands as it is.
    using Answer = PromptProcess::Answer;
    static Answer answer(int status, std::string output);

    static constexpr int dismissedStatus = 126;
    static constexpr int notAuthorizedStatus = 127;

  private:
    PromptProcess process_;
    std::string pkexecPath_;
    std::string executablePath_;
};

} // namespace vesperon
