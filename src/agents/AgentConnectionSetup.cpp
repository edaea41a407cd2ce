#include "agents/AgentConnectionSetup.hpp"

#include "agents/AgentHookSettings.hpp"
#include "agents/ForeignJson.hpp"
#include "platform/UserHome.hpp"

namespace vesperon {

namespace {

// Whether the file at `path` is there and passes `test`; a missing file passes nothing.
template <class Test>
Result<bool> existingPasses(const GuardedConfigFile& files, const std::string& path, Test test) {
    auto bytes = files.read(path);
    if (!bytes) {
        return std::unexpected(bytes.error());
    }
    const std::optional<std::string>& contents = *bytes;
    if (!contents) {
        return false;
    }
    return test(*contents);
}

constexpr std::string_view claudeSettings = ".claude/settings.json";
constexpr std::string_view codexHooks = ".codex/hooks.json";
constexpr std::string_view openCodePluginFile = ".config/opencode/plugins/vesperon.js";

std::unexpected<Error> problem(const char* message) {
    return std::unexpected(agentConnectionProblem(message));
}

std::unexpected<Error> unknownProvider() {
    return problem("Unknown agent provider.");
}

// The path goes into a shell command and a JavaScript string literal: it must be
// absolute, one line, and text (valid UTF-8, which the JSON lexer checks).
bool usableExecutablePath(std::string_view path) {
    return !path.empty() && path.front() == '/' &&
           path.find_first_of(std::string_view("\0\n\r", 3)) == std::string_view::npos &&
           parseForeignJson(jsonStringLiteral(path)).has_value();
}

constexpr std::string_view pluginHead = R"(// Vesperon agent adapter v1
// Opt-in observer only. Vesperon ignores events unless tracking is armed.
import { spawn } from "node:child_process";

const tracked = new Set([
  "session.status",
  "session.idle",
  "session.error",
  "permission.asked",
  "permission.v2.asked",
  "permission.updated",
  "permission.replied",
  "permission.v2.replied",
  "question.asked",
  "question.v2.asked",
  "question.replied",
  "question.rejected",
  "question.v2.replied",
  "question.v2.rejected",
]);

// OpenCode makes each event's call without waiting for the previous one, and the
// endpoint stamps an event when it runs: one session's events are handed over one
// after another, in the order they came, so that a slow call cannot put an older
// state after a newer one.
const queues = new Map();

const deliver = (event) =>
  new Promise((resolve) => {
    const child = spawn()";

constexpr std::string_view pluginTail =
    R"(, ["--agent-event", "opencode"], {
      stdio: ["pipe", "ignore", "ignore"],
    });
    const timer = setTimeout(() => {
      child.kill();
      resolve();
    }, 4000);
    child.on("error", () => {
      clearTimeout(timer);
      resolve();
    });
    child.on("close", () => {
      clearTimeout(timer);
      resolve();
    });
    child.stdin.on("error", () => {});
    child.stdin.write(JSON.stringify(event));
    child.stdin.end();
  });

export const Vesperon = async () => {
  return {
    event: async ({ event }) => {
      if (!event || !tracked.has(event.type)) {
        return;
      }
      const session = String(event.properties?.sessionID ?? "");
      const current = (queues.get(session) ?? Promise.resolve()).then(() => deliver(event));
      queues.set(session, current);
      await current;
      if (queues.get(session) === current) {
        queues.delete(session);
      }
    },
  };
};)";

} // namespace

AgentConnectionSetup::AgentConnectionSetup(std::string executablePath,
                                           std::optional<std::string> homeFolder)
    : executablePath_(std::move(executablePath)),
      files_(homeFolder ? std::move(*homeFolder) : userHomeFolder(), defaultMaximumBytes) {}

std::string AgentConnectionSetup::configurationPath(std::string_view provider) const {
    std::string_view relative;
    if (provider == "claude") {
        relative = claudeSettings;
    } else if (provider == "codex") {
        relative = codexHooks;
    } else if (provider == "opencode") {
        relative = openCodePluginFile;
    } else {
        return {};
    }
    const std::string& home = files_.homeFolder();
    return (home == "/" ? home : home + "/") + std::string(relative);
}

std::string AgentConnectionSetup::openCodePlugin() const {
    return std::string(pluginHead) + jsonStringLiteral(executablePath_) + std::string(pluginTail);
}

Result<bool> AgentConnectionSetup::isInstalled(std::string_view provider) const {
    const std::string path = configurationPath(provider);
    if (path.empty()) {
        return unknownProvider();
    }
    return existingPasses(files_, path, [&](const std::string& contents) -> Result<bool> {
        if (provider == "opencode") {
            return contents.starts_with(openCodeHeader);
        }
        return agentHooksInstalled(contents, agentHookCommand(executablePath_, provider), path);
    });
}

Result<std::string> AgentConnectionSetup::install(std::string_view provider) const {
    if (!usableExecutablePath(executablePath_)) {
        return problem("The Vesperon executable path is invalid.");
    }
    std::string path = configurationPath(provider);
    if (path.empty()) {
        return unknownProvider();
    }
    if (provider != "opencode") {
        return installJSON(path, provider);
    }
    auto existing = files_.read(path);
    if (!existing) {
        return std::unexpected(existing.error());
    }
    const std::optional<std::string>& previous = *existing;
    if (previous && !previous->starts_with(openCodeHeader)) {
        return problem(
            "An existing vesperon.js is not a Vesperon adapter. Rename it before connecting.");
    }
    if (auto written = files_.write(openCodePlugin(), path, previous); !written) {
        return std::unexpected(written.error());
    }
    return path;
}

Result<bool> AgentConnectionSetup::hooksDisabledInClaudeSettings() const {
    const std::string path = configurationPath("claude");
    return existingPasses(files_, path, [&](const std::string& contents) -> Result<bool> {
        return claudeHooksDisabled(contents, path);
    });
}

Result<std::string> AgentConnectionSetup::installJSON(const std::string& path,
                                                      std::string_view provider) const {
    auto existing = files_.read(path);
    if (!existing) {
        return std::unexpected(existing.error());
    }
    const std::optional<std::string>& previous = *existing;
    std::optional<std::string_view> text;
    if (previous) {
        text = *previous;
    }
    auto merged = mergeAgentHooks(text, agentHookEvents(provider),
                                  agentHookCommand(executablePath_, provider), path);
    if (!merged) {
        return std::unexpected(merged.error());
    }
    if (auto written = files_.write(*merged, path, previous); !written) {
        return std::unexpected(written.error());
    }
    return path;
}

} // namespace vesperon
