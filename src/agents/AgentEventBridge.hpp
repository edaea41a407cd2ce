#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vesperon {

// What one hook payload says: which agent session, and in which state it now is.
struct AgentSessionState {
    std::string sessionID;
    std::string state; // "busy", "waiting", "idle", "failed" or "ended"

    friend bool operator==(const AgentSessionState&, const AgentSessionState&) = default;
};

// The hook endpoint's half of agent tracking: turns one hook payload into at most
// one event file in the folder of the armed run. Does nothing unless a run is armed
// by a live process of this user and both folders are private. Never creates
// folders, never reads other events, never removes anything but its own
// temporary file; publishes each event with an exclusive create and a rename.
class AgentEventBridge {
  public:
    // Writes one event for `payloadData` (a JSON object from `provider`'s hook) into
    // the armed run under `rootFolder` (absent: the user's event folder). True when
    // an event file was published. Never throws, never prints.
    static bool emit(std::string_view provider, std::string_view payloadData,
                     const std::optional<std::string>& rootFolder = std::nullopt);

    // The members of a payload that `normalize` looks at; the endpoint reads no others.
    static constexpr std::array<std::string_view, 12> payloadMembers = {
        "hook_event_name",  "type",          "event",     "session_id",
        "sessionID",        "agent_id",      "tool_name", "notification_type",
        "background_tasks", "session_crons", "thread-id", "properties"};

    // The session and state a payload object reports, by the provider's rules, or
    // nothing when it reports none (or `payload` is not an object).
    static std::optional<AgentSessionState> normalize(std::string_view provider,
                                                      const nlohmann::json& payload);

    // The private-folder test for one folder path.
    static bool privateDirectory(const std::string& path);
};

} // namespace vesperon
