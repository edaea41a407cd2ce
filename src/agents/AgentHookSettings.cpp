#include "agents/AgentHookSettings.hpp"

#include <array>

#include "agents/ForeignJson.hpp"
#include "common/Quoting.hpp"

namespace vesperon {

namespace {

constexpr std::array<AgentHookEvent, 10> claudeEvents{{
    {"UserPromptSubmit", 5},
    {"PreToolUse", 5},
    {"PostToolUse", 5},
    {"PermissionRequest", 5},
    {"Notification", 5},
    {"Stop", 5},
    {"StopFailure", 5},
    {"SessionEnd", 5},
    {"SubagentStart", 5},
    {"SubagentStop", 5},
}};

// Codex gives its closing events less time: they run while the session winds down.
constexpr std::array<AgentHookEvent, 9> codexEvents{{
    {"UserPromptSubmit", 5},
    {"PreToolUse", 5},
    {"PostToolUse", 5},
    {"PermissionRequest", 5},
    {"Stop", 5},
    {"Interrupt", 3},
    {"SessionEnd", 3},
    {"SubagentStart", 5},
    {"SubagentStop", 5},
}};

Result<ForeignJson> decode(std::string_view text, std::string_view fileName) {
    auto value = parseForeignJson(text);
    if (!value) {
        return fail(std::string(agentSettingsJsonDomain),
                    std::string(fileName) +
                        " is not valid JSON. Fix or rename it before connecting.");
    }
    return std::move(*value);
}

bool isArrayOfObjects(const ForeignJson& value) {
    const auto* items = value.array();
    if (items == nullptr) {
        return false;
    }
    for (const ForeignJson& item : *items) {
        if (item.object() == nullptr) {
            return false;
        }
    }
    return true;
}

bool isOurHandler(const ForeignJson& handler, std::string_view command) {
    const ForeignJson* type = handler.member("type");
    const ForeignJson* text = handler.member("command");
    return type != nullptr && text != nullptr && type->text() != nullptr &&
           *type->text() == "command" && text->text() != nullptr && *text->text() == command;
}

ForeignJson newGroup(std::string_view command, int timeoutSeconds) {
    ForeignJson::Object handler;
    handler.emplace("type", ForeignJson::string("command"));
    handler.emplace("command", ForeignJson::string(std::string(command)));
    handler.emplace("timeout", ForeignJson::integer(timeoutSeconds));
    ForeignJson::Object group;
    group.emplace("hooks", ForeignJson(ForeignJson::Array{ForeignJson(std::move(handler))}));
    return ForeignJson(std::move(group));
}

} // namespace

std::span<const AgentHookEvent> agentHookEvents(std::string_view provider) {
    if (provider == "claude") {
        return claudeEvents;
    }
    if (provider == "codex") {
        return codexEvents;
    }
    return {};
}

std::string agentHookCommand(std::string_view executablePath, std::string_view provider) {
    return shellQuote(executablePath) + " --agent-event " + std::string(provider);
}

Error agentConnectionProblem(std::string message) {
    return Error::make(std::string(agentConnectionsDomain), std::move(message));
}

Result<std::string> mergeAgentHooks(std::optional<std::string_view> existing,
                                    std::span<const AgentHookEvent> events,
                                    std::string_view command, std::string_view fileName) {
    ForeignJson settings(ForeignJson::Object{});
    if (existing) {
        auto decoded = decode(*existing, fileName);
        if (!decoded) {
            return std::unexpected(decoded.error());
        }
        settings = std::move(*decoded);
    }
    ForeignJson::Object* fields = settings.object();
    if (fields == nullptr) {
        return std::unexpected(
            agentConnectionProblem("The existing agent configuration must be a JSON object."));
    }

    ForeignJson hooks(ForeignJson::Object{});
    if (const auto found = fields->find("hooks"); found != fields->end()) {
        if (found->second.object() == nullptr) {
            return std::unexpected(
                agentConnectionProblem("The existing hooks configuration is invalid."));
        }
        hooks = std::move(found->second);
    }
    ForeignJson::Object& byEvent = *hooks.object();

    for (const AgentHookEvent& event : events) {
        const std::string name(event.name);
        ForeignJson::Array groups;
        if (const auto found = byEvent.find(name); found != byEvent.end()) {
            if (!isArrayOfObjects(found->second)) {
                return std::unexpected(
                    agentConnectionProblem("Existing " + name + " hooks are invalid."));
            }
            groups = std::move(*found->second.array());
        }
        ForeignJson::Array kept;
        for (ForeignJson& group : groups) {
            ForeignJson::Object& groupFields = *group.object();
            const auto handlers = groupFields.find("hooks");
            if (handlers == groupFields.end() || !isArrayOfObjects(handlers->second)) {
                return std::unexpected(
                    agentConnectionProblem("Existing " + name + " handlers are invalid."));
            }
            ForeignJson::Array& list = *handlers->second.array();
            const auto before = list.size();
            std::erase_if(list, [&](const ForeignJson& h) { return isOurHandler(h, command); });
            // A group that held only our handler goes; anything else in it stays.
            if (list.size() == before || !list.empty()) {
                kept.push_back(std::move(group));
            }
        }
        kept.push_back(newGroup(command, event.timeoutSeconds));
        byEvent.insert_or_assign(name, ForeignJson(std::move(kept)));
    }

    fields->insert_or_assign("hooks", std::move(hooks));
    return printForeignJson(settings) + "\n";
}

Result<bool> agentHooksInstalled(std::string_view settings, std::string_view command,
                                 std::string_view fileName) {
    auto decoded = decode(settings, fileName);
    if (!decoded) {
        return std::unexpected(decoded.error());
    }
    const ForeignJson* hooks = decoded->member("hooks");
    const ForeignJson* stop = hooks == nullptr ? nullptr : hooks->member("Stop");
    if (stop == nullptr || !isArrayOfObjects(*stop)) {
        return false;
    }
    for (const ForeignJson& group : *stop->array()) {
        const ForeignJson* handlers = group.member("hooks");
        if (handlers == nullptr || handlers->array() == nullptr) {
            continue;
        }
        for (const ForeignJson& handler : *handlers->array()) {
            if (isOurHandler(handler, command)) {
                return true;
            }
        }
    }
    return false;
}

Result<bool> claudeHooksDisabled(std::string_view settings, std::string_view fileName) {
    auto decoded = decode(settings, fileName);
    if (!decoded) {
        return std::unexpected(decoded.error());
    }
    if (decoded->object() == nullptr) {
        return std::unexpected(
            agentConnectionProblem("Claude Code settings are not a JSON object."));
    }
    const ForeignJson* flag = decoded->member("disableAllHooks");
    return flag != nullptr && flag->isTrue();
}

} // namespace vesperon
