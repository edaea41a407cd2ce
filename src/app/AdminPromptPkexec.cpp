#include "app/AdminPrompt.hpp"
#include "app/PkexecRequest.hpp"
#include "platform/SystemLayout.hpp"

namespace vesperon {

std::unique_ptr<PrivilegedRequest> makeAdminPrompt(Scheduler& mainQueue,
                                                   std::string executablePath) {
    return std::make_unique<PkexecRequest>(mainQueue, systemLayout().adminPromptPath,
                                           std::move(executablePath));
}

} // namespace vesperon
