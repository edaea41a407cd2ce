#include "platform/SystemLayout.hpp"

#include <cstdlib>
#include <sys/stat.h>

#if defined(VESPERON_PLATFORM_LINUX)
#include "platform/linux/HostPaths.hpp"
#endif

namespace vesperon {

SystemLayout SystemLayout::macOS() {
    SystemLayout layout;
    layout.rootDir = "/Library/Application Support/LocalVesperon";
    layout.jobPath = "/Library/LaunchDaemons/local.vesperon.session.plist";
    layout.jobName = "local.vesperon.session";
    layout.rootLockPath = "/var/run/local.vesperon.lock";
    layout.pmsetPath = "/usr/bin/pmset";
    layout.launchctlPath = "/bin/launchctl";
    layout.adminPromptPath = "/usr/bin/osascript";
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
                              &layout.pmsetPath, &layout.launchctlPath, &layout.adminPromptPath}) {
        *path = root + *path;
    }
    layout.sandboxRoot = root;
    return layout;
}

SystemLayout SystemLayout::linuxHost(const std::string& root) {
    SystemLayout layout;
    layout.rootDir = root + "/var/lib/vesperon";
    layout.jobPath = root + "/run/local.vesperon.session.plist";
    layout.jobName = "local.vesperon.session";
    layout.rootLockPath = root + "/run/local.vesperon.lock";
    layout.adminPromptPath = "/usr/bin/pkexec";
    layout.shellPath = "/bin/sh";
    return layout;
}

namespace {

SystemLayout chooseLayout() {
#if defined(VESPERON_PLATFORM_SANDBOX)
    if (const char* root = std::getenv("VESPERON_SANDBOX"); root != nullptr && root[0] == '/') {
        return SystemLayout::sandbox(root);
    }
#endif
#if defined(VESPERON_PLATFORM_LINUX)
    return SystemLayout::linuxHost(platform::hostPath(""));
#else
    return SystemLayout::macOS();
#endif
}

} // namespace

const SystemLayout& systemLayout() {
    static const SystemLayout layout = chooseLayout();
    return layout;
}

std::optional<std::string> rootLayoutProblem() {
#if defined(VESPERON_PLATFORM_SANDBOX)
    const char* root = std::getenv("VESPERON_SANDBOX");
    if (root == nullptr || root[0] != '/') {
        return "This build acts only on a sandboxed machine: set VESPERON_SANDBOX to its "
               "absolute folder.";
    }
    struct stat info {};
    if (::lstat(root, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != 0 ||
        (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return std::string("The sandboxed machine ") + root +
               " must be a folder owned by root that no one else can write.";
    }
#endif
    return std::nullopt;
}

std::string machineDescription() {
    const SystemLayout& layout = systemLayout();
    if (layout.isSandbox()) {
        return "Machine: sandbox at " + layout.sandboxRoot;
    }
#if defined(VESPERON_PLATFORM_LINUX)
    if (platform::hostFromEnvironment()) {
        return "Machine: this computer, read under '" + platform::hostPath("") +
               "' and the system bus at " + platform::systemBusAddress() + " (test build)";
    }
#endif
#if defined(VESPERON_PLATFORM_SANDBOX)
    return "Machine: none (sandbox build; set VESPERON_SANDBOX to a sandboxed machine's folder)";
#else
    return "Machine: this computer";
#endif
}

} // namespace vesperon
