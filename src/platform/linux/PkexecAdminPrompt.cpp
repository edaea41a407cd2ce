#include "platform/AdminPrompt.hpp"
#include "platform/SystemLayout.hpp"
#include "platform/linux/PkexecRequest.hpp"

namespace vesperon {

std::unique_ptr<PrivilegedRequest> makeAdminPrompt(Scheduler& mainQueue,
                                                   std::string executablePath) {
    return std::make_unique<PkexecRequest>(mainQueue, systemLayout().adminPromptPath,
                                           std::move(executablePath));
}

} // namespace vesperon
