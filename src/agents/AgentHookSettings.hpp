#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/Error.hpp"

#include "common/ErrorDomains.hpp"

namespace vesperon {

// The hooks Vesperon keeps in Claude Code's and Codex's JSON settings files, and the
// pure text-to-text edits on those files. Everything in a file that is not one of
// our handlers is carried over; see ForeignJson for how values are kept exactly.

inline constexpr std::string_view agentConnectionsDomain = errorDomain::agentConnections;
// Domain of "this file is not valid JSON" errors.
inline constexpr std::string_view agentSettingsJsonDomain = errorDomain::json;

// One hook event and the time-out, in seconds, of the handler written for it.
struct AgentHookEvent {
    std::string_view name;
    int timeoutSeconds;
};

// The events hooked for "claude" or "codex", in the order they are installed;
// empty for any other provider.
std::span<const AgentHookEvent> agentHookEvents(std::string_view provider);

// The handler command: the shell-quoted executable path, " --agent-event ", provider.
std::string agentHookCommand(std::string_view executablePath, std::string_view provider);

// An error of the connections domain with code 1 and `message`.
Error agentConnectionProblem(std::string message);

// The settings file after installing our hooks: for every event, each handler whose
// type is "command" and whose command is `command` is removed (a group left empty
// is dropped), then one new group with one handler is appended. `existing` is the
// file's text, or nothing when there is no file. `fileName` names the file in the
// not-valid-JSON message. The result is pretty JSON with a final line feed.
[[nodiscard]] Result<std::string> mergeAgentHooks(std::optional<std::string_view> existing,
                                                  std::span<const AgentHookEvent> events,
                                                  std::string_view command,
                                                  std::string_view fileName);

// Whether some "Stop" group of the settings text holds a command handler with
// exactly `command`. Only invalid JSON is an error; any other shape is false.
[[nodiscard]] Result<bool> agentHooksInstalled(std::string_view settings, std::string_view command,
                                               std::string_view fileName);

// Whether Claude Code's settings text has "disableAllHooks" set to true.
[[nodiscard]] Result<bool> claudeHooksDisabled(std::string_view settings,
                                               std::string_view fileName);

} // namespace vesperon
