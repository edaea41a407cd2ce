#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "agents/GuardedConfigFile.hpp"
#include "common/Error.hpp"

namespace vesperon {

// Connects a coding agent to the hook endpoint: merges our hooks into Claude Code's
// ".claude/settings.json" or Codex's ".codex/hooks.json" (everything else in them is
// kept), or installs the OpenCode plugin ".config/opencode/plugins/vesperon.js".
// Never removes hooks. Every file access goes through GuardedConfigFile. Used on
// the main thread.
class AgentConnectionSetup {
  public:
    static constexpr std::size_t defaultMaximumBytes = 1'048'576;
    static constexpr std::string_view openCodeHeader = "// Vesperon agent adapter v1\n";

    // `homeFolder`: nothing = the current user's home folder from the account database.
    explicit AgentConnectionSetup(std::string executablePath,
                                  std::optional<std::string> homeFolder = std::nullopt);

    // Whether the provider's hooks with this executable's command are in place.
    [[nodiscard]] Result<bool> isInstalled(std::string_view provider) const;
    // Installs the provider's hooks; returns the path of the file it wrote (or
    // found already up to date).
    [[nodiscard]] Result<std::string> install(std::string_view provider) const;
    // Whether Claude Code's settings switch every hook off ("disableAllHooks": true).
    [[nodiscard]] Result<bool> hooksDisabledInClaudeSettings() const;

    // The file the provider's connection lives in; empty for an unknown provider.
    std::string configurationPath(std::string_view provider) const;
    // The OpenCode plugin script for this executable.
    std::string openCodePlugin() const;

    const std::string& homeFolder() const { return files_.homeFolder(); }
    const std::string& executablePath() const { return executablePath_; }
    // For tests that play an agent rewriting its file during `install`.
    void setCheckpointHook(GuardedConfigFile::CheckpointHook hook) {
        files_.setCheckpointHook(std::move(hook));
    }

  private:
    [[nodiscard]] Result<std::string> installJSON(const std::string& path,
                                                  std::string_view provider) const;

    std::string executablePath_;
    GuardedConfigFile files_;
};

} // namespace vesperon
