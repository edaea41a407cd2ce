#include "app/AppWiring.hpp"

#include <unistd.h>

#include "platform/RunningImage.hpp"
#include "platform/SystemLayout.hpp"
#include "platform/UserDefaults.hpp"
#include "platform/UserHome.hpp"

namespace vesperon {

AppEnvironment currentAppEnvironment() {
    AppEnvironment environment;
    environment.executablePath = executablePath();
    environment.homeDirectory = userHomeFolder();
    environment.temporaryDirectory = "/tmp";
    environment.processId = static_cast<int>(::getpid());
    environment.supportAddress = supportAddress;
    return environment;
}

AppParts defaultAppParts(Scheduler& scheduler, const AppEnvironment& environment) {
    AppParts parts;
    parts.preferences =
        std::make_unique<PreferencesStore>(platform::makeUserDefaults(environment.homeDirectory));
    parts.taskRunner = std::make_unique<LocalTaskRunner>(scheduler, systemLayout().shellPath,
                                                         environment.homeDirectory);
    parts.agentTracking = std::make_unique<AgentTrackingRun>();
    parts.codexTrustCheck = [](const std::string& executable, const std::string& cwd) {
        return CodexHookTrust::check(executable, cwd);
    };
    return parts;
}

} // namespace vesperon
