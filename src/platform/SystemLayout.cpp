#include "platform/SystemLayout.hpp"

#include <cstdlib>

namespace vesperon {

SystemLayout SystemLayout::macOS() {
    SystemLayout layout;
    layout.rootDir = "/Library/Application Support/LocalVesperon";
    layout.jobPath = "/Library/LaunchDaemons/local.vesperon.session.plist";
    layout.jobName = "local.vesperon.session";
    layout.rootLockPath = "/var/run/local.vesperon.lock";
    layout.pmsetPath = "/usr/bin/pmset";
    layout.launchctlPath = "/bin/launchctl";
    layout.osascriptPath = "/usr/bin/osascript";
#if defined(__APPLE__)
    layout.shellPath = "/bin/zsh";
#else
    layout.shellPath = "/bin/sh";
#endif
    return layout;
}

SystemLayout SystemLayout::sandbox(const std::string& root) {
    SystemLayout layout = macOS();
    for (std::string* path : {&layout.rootDir, &layout.jobPath, &layout.rootLockPath,
                              &layout.pmsetPath, &layout.launchctlPath, &layout.osascriptPath}) {
        *path = root + *path;
    }
    layout.sandboxRoot = root;
    return layout;
}

namespace {

SystemLayout chooseLayout() {
#if defined(VESPERON_PLATFORM_SANDBOX)
    if (const char* root = std::getenv("VESPERON_SANDBOX"); root != nullptr && root[0] == '/') {
        return SystemLayout::sandbox(root);
    }
#endif
    return SystemLayout::macOS();
}

} // namespace

const SystemLayout& systemLayout() {
    static const SystemLayout layout = chooseLayout();
    return layout;
}

std::string machineDescription() {
    const SystemLayout& layout = systemLayout();
    if (layout.isSandbox()) {
        return "Machine: sandbox at " + layout.sandboxRoot;
    }
#if defined(VESPERON_PLATFORM_SANDBOX)
    return "Machine: none (sandbox build; set VESPERON_SANDBOX to a sandboxed machine's folder)";
#else
    return "Machine: this computer";
#endif
}

} // namespace vesperon
