#pragma once

#include <cstdlib>
#include <string>

#include <unistd.h>

namespace vesperon::testing {

// The real coding agents for the integration tests come from npm, each installed
// outside the repository under one cache folder (VESPERON_AGENT_PACKAGES, default
// ~/.cache/vesperon-agents), pinned to the versions the recorded samples came from:
//   npm install --prefix ~/.cache/vesperon-agents/codex @openai/codex@0.169.0
//   npm install --prefix ~/.cache/vesperon-agents/claude @anthropic-ai/claude-code@2.1.328
//   npm install --prefix ~/.cache/vesperon-agents/opencode opencode-ai@1.18.33
// The folder holding the agent's command ("codex", "claude", "opencode"), or empty
// when it is not installed.
inline std::string agentBinFolder(const std::string& agent) {
    const char* packages = std::getenv("VESPERON_AGENT_PACKAGES");
    const char* home = std::getenv("HOME");
    std::string base;
    if (packages != nullptr) {
        base = packages;
    } else if (home != nullptr) {
        base = std::string(home) + "/.cache/vesperon-agents";
    }
    const std::string folder = base + "/" + agent + "/node_modules/.bin";
    return ::access((folder + "/" + agent).c_str(), X_OK) == 0 ? folder : std::string();
}

} // namespace vesperon::testing
