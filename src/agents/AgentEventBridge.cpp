#include "agents/AgentEventBridge.hpp"

#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <initializer_list>

#include "agents/AgentEventFiles.hpp"
#include "common/AtomicFile.hpp"
#include "common/OwnedFd.hpp"
#include "common/UntrustedJson.hpp"
#include "common/Uuid.hpp"

namespace vesperon {

namespace {

using nlohmann::json;

// The value of the first of `keys` present in `object` (null included), if any.
const json* firstPresent(const json& object, std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        if (const auto it = object.find(key); it != object.end()) {
            return &*it;
        }
    }
    return nullptr;
}

std::string stringOrEmpty(const json* value) {
    return value != nullptr && value->is_string() ? value->get<std::string>() : std::string();
}

std::optional<std::string> stringMember(const json& object, const char* key) {
    if (const auto it = object.find(key); it != object.end() && it->is_string()) {
        return it->get<std::string>();
    }
    return std::nullopt;
}

bool isOneOf(std::string_view value, std::initializer_list<std::string_view> options) {
    for (std::string_view option : options) {
        if (value == option) {
            return true;
        }
    }
    return false;
}

// Background work is clear when the key is missing or holds an empty array; any
// other value, null included, counts as pending work.
bool backgroundClear(const json& payload, const char* key) {
    const auto it = payload.find(key);
    return it == payload.end() || (it->is_array() && it->empty());
}

std::optional<std::string> openCodeState(const std::string& event, const json& properties) {
    if (event == "session.status") {
        const auto status = properties.find("status");
        if (status == properties.end() || !status->is_object()) {
            return std::nullopt;
        }
        const std::string type = stringOrEmpty(firstPresent(*status, {"type"}));
        if (type == "busy" || type == "retry") {
            return "busy";
        }
        if (type == "idle") {
            return "idle";
        }
        return std::nullopt;
    }
    if (event == "session.idle") {
        return "idle";
    }
    if (event == "session.error") {
        return "failed";
    }
    if (isOneOf(event, {"permission.asked", "permission.v2.asked", "permission.updated",
                        "question.asked", "question.v2.asked"})) {
        return "waiting";
    }
    if (isOneOf(event, {"permission.replied", "permission.v2.replied", "question.replied",
                        "question.rejected", "question.v2.replied", "question.v2.rejected"})) {
        return "busy";
    }
    return std::nullopt;
}

std::optional<std::string> hookState(std::string_view provider, const std::string& event,
                                     const json& payload, std::optional<std::string>& session) {
    if (AgentEventFiles::knownState(event)) {
        return event;
    }
    if (event == "SubagentStart" || event == "SubagentStop") {
        const std::optional<std::string> agent = stringMember(payload, "agent_id");
        if (agent && session && AgentEventFiles::validSessionID(*agent)) {
            *session += ":sub:" + *agent;
            return event == "SubagentStart" ? "busy" : "idle";
        }
        return std::nullopt;
    }
    if (event == "PreToolUse" && stringMember(payload, "tool_name") == "AskUserQuestion") {
        return "waiting";
    }
    if (isOneOf(event, {"UserPromptSubmit", "PreToolUse", "PostToolUse"})) {
        return "busy";
    }
    if (event == "PermissionRequest") {
        return "waiting";
    }
    if (event == "Notification") {
        const std::string type = stringOrEmpty(firstPresent(payload, {"notification_type"}));
        if (isOneOf(type, {"permission_prompt", "elicitation_dialog", "elicitation_url"})) {
            return "waiting";
        }
        if (provider == "claude" && type == "idle_prompt") {
            return "idle";
        }
        return std::nullopt;
    }
    if (event == "Stop") {
        return backgroundClear(payload, "background_tasks") &&
                       backgroundClear(payload, "session_crons")
                   ? "idle"
                   : "busy";
    }
    if (event == "StopFailure") {
        return "failed";
    }
    if (event == "Interrupt" || event == "SessionEnd") {
        return "ended";
    }
    if (provider == "codex" && event == "agent-turn-complete") {
        if (!session) {
            session = stringMember(payload, "thread-id");
        }
        return "idle";
    }
    return std::nullopt;
}

// The run descriptor's ID, if the descriptor names a run armed by a live process of
// this user at a plausible time.
std::optional<std::string> armedRunID(int root, double now) {
    const std::optional<std::string> data = AgentEventFiles::readPrivateAt(
        root, std::string(AgentEventFiles::descriptorName), AgentEventFiles::descriptorMaximum);
    if (!data) {
        return std::nullopt;
    }
    constexpr std::string_view members[] = {"runID", "startedAt", "ownerPID"};
    bool unnamed = false;
    const std::optional<json> descriptor =
        parseUntrustedJsonMembers(*data, AgentEventFiles::recordDepthLimit, members, &unnamed);
    if (!descriptor || unnamed || descriptor->size() != 3 || !descriptor->contains("runID") ||
        !descriptor->contains("startedAt") || !descriptor->contains("ownerPID")) {
        return std::nullopt;
    }
    const json& runID = (*descriptor)["runID"];
    if (!runID.is_string() || !Uuid::isValidText(runID.get_ref<const std::string&>())) {
        return std::nullopt;
    }
    // nlohmann never reports a JSON boolean as a number.
    const json& owner = (*descriptor)["ownerPID"];
    if (!owner.is_number()) {
        return std::nullopt;
    }
    const double ownerValue = owner.get<double>();
    // In range first (this also refuses NaN), so that the whole-number test's
    // conversion is defined.
    if (!(ownerValue >= 1 && ownerValue <= INT_MAX) ||
        static_cast<double>(static_cast<pid_t>(ownerValue)) != ownerValue) {
        return std::nullopt;
    }
    if (kill(static_cast<pid_t>(ownerValue), 0) != 0) {
        return std::nullopt;
    }
    const json& startedAt = (*descriptor)["startedAt"];
    if (!startedAt.is_number()) {
        return std::nullopt;
    }
    const double started = startedAt.get<double>();
    if (!std::isfinite(started) || started > now + AgentEventFiles::futureToleranceSeconds) {
        return std::nullopt;
    }
    return runID.get<std::string>();
}

// Written as "<UUID>.tmp", then renamed to "<UUID>.json": the run skips the one and
// reads the other. An event file is not worth a flush to disk.
bool publish(int runFolder, const std::string& data) {
    const std::string name = newUuidText();
    const AtomicWrite event{.attributes = std::nullopt,
                            .durable = false,
                            .temporaryName = name + ".tmp",
                            .beforeReplace = {}};
    return !name.empty() && writeFileAtomicallyAt(runFolder, name + ".json", data, event);
}

} // namespace

std::optional<AgentSessionState> AgentEventBridge::normalize(std::string_view provider,
                                                             const json& payload) {
    if (!payload.is_object()) {
        return std::nullopt;
    }
    std::string event = stringOrEmpty(firstPresent(payload, {"hook_event_name", "type", "event"}));
    std::optional<std::string> session;
    if (const json* value = firstPresent(payload, {"session_id", "sessionID"});
        value != nullptr && value->is_string()) {
        session = value->get<std::string>();
    }

    std::optional<std::string> state;
    if (provider == "opencode") {
        const auto properties = payload.find("properties");
        if (properties == payload.end() || !properties->is_object()) {
            return std::nullopt;
        }
        if (!session) {
            session = stringMember(*properties, "sessionID");
        }
        state = openCodeState(event, *properties);
    } else {
        state = hookState(provider, event, payload, session);
    }
    if (!state || !session || !AgentEventFiles::validSessionID(*session)) {
        return std::nullopt;
    }
    return AgentSessionState{std::move(*session), std::move(*state)};
}

bool AgentEventBridge::privateDirectory(const std::string& path) {
    return AgentEventFiles::privateDirectory(path);
}

bool AgentEventBridge::emit(std::string_view provider, std::string_view payloadData,
                            const std::optional<std::string>& rootFolder) {
    if (!AgentEventFiles::supportedProvider(provider) ||
        payloadData.size() > AgentEventFiles::payloadMaximum) {
        return false;
    }
    // Only the members that say what happened are built: the rest (a tool's whole
    // input, say) is checked but never copied.
    const std::optional<json> payload =
        parseUntrustedJsonMembers(payloadData, AgentEventFiles::payloadDepthLimit, payloadMembers);
    if (!payload || !payload->is_object()) {
        return false;
    }
    const std::optional<AgentSessionState> reported = normalize(provider, *payload);
    if (!reported) {
        return false;
    }

    // Every later step is anchored on the opened event folder, so a folder swapped
    // for a link after its test cannot redirect the write.
    const OwnedFd root = AgentEventFiles::openPrivateDirectory(
        rootFolder ? *rootFolder : AgentEventFiles::defaultFolder());
    if (!root) {
        return false;
    }
    const double now = AgentEventFiles::wallClockNow();
    const std::optional<std::string> runID = armedRunID(root.get(), now);
    if (!runID) {
        return false;
    }
    const OwnedFd runFolder = AgentEventFiles::openPrivateDirectoryAt(root.get(), *runID);
    if (!runFolder) {
        return false;
    }

    const json event = {{"runID", *runID},
                        {"provider", provider},
                        {"sessionID", reported->sessionID},
                        {"state", reported->state},
                        {"timestamp", now}};
    std::string data;
    try {
        data = event.dump();
    } catch (...) {
        return false;
    }
    return publish(runFolder.get(), data);
}

} // namespace vesperon
