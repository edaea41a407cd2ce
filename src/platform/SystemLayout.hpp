#pragma once

#include <optional>
#include <string>

namespace vesperon {

// Every fixed location of the privileged side and the system tools it runs.
// On macOS these are the real system paths; a sandboxed machine keeps the same
// relative paths under its own root folder.
struct SystemLayout {
    std::string rootDir; // root state folder, exists while a session or its recovery is pending
    std::string jobPath; // the recovery watcher's job file
    std::string jobName; // the job's label; addressed as "system/" + jobName
    std::string rootLockPath;    // the root lock file
    std::string pmsetPath;       // power tool
    std::string launchctlPath;   // service tool
    std::string adminPromptPath; // the administrator prompt: osascript, or pkexec on Linux
    std::string shellPath;       // shell for task commands
    std::string sandboxRoot;     // the sandboxed machine's root; empty on a real machine

    std::string sessionRecordPath() const { return rootDir + "/session.json"; }
    std::string watcherPath() const { return rootDir + "/watcher"; }
    std::string jobTarget() const { return "system/" + jobName; }
    bool isSandbox() const { return !sandboxRoot.empty(); }
    // Folder of a sandboxed machine's probe readings (battery, lid, thermal, boot id, clock).
    std::string machineDir() const { return sandboxRoot + "/machine"; }

    static SystemLayout macOS();
    static SystemLayout sandbox(const std::string& root);
    // A Linux machine's locations, under `root` ("" for the real one). The service is a
    // systemd unit named after jobName, the override a logind inhibitor, and the
    // administrator prompt pkexec; the macOS tools have no paths here.
    static SystemLayout linuxHost(const std::string& root);
};

// The layout of the machine this process runs on, fixed at first use. Sandbox
// builds take the sandboxed machine's root from VESPERON_SANDBOX; every other
// build uses the real system paths and reads no environment variable.
const SystemLayout& systemLayout();

// Why the root modes must not act on this layout, or nothing when they may. A
// sandbox build acts only on a sandboxed machine whose folder is absolute, a real
// folder owned by root and writable by nobody else: anything else would let another
// user steer root's files, or send root to the host's real paths.
std::optional<std::string> rootLayoutProblem();

// A one-line description of the machine `systemLayout()` reads, for --diagnose.
std::string machineDescription();

} // namespace vesperon
