#pragma once

namespace vesperon::errorDomain {

// Every error domain in one place. A domain says which part of the system a failure
// comes from; callers compare domains, users read only the message. Errors relayed
// from D-Bus keep the name the service gave them as their domain.

// A system call failed; the code is its errno value.
inline constexpr const char* system = "Vesperon.System";
// Something could not be encoded into the file that should hold it.
inline constexpr const char* encoding = "Vesperon.Encoding";
// A system tool the root side runs failed; the message carries its output.
inline constexpr const char* systemTool = "Vesperon.SystemTool";
// The preferences file or a preference value.
inline constexpr const char* preferences = "Vesperon.Preferences";
// A task command was refused.
inline constexpr const char* task = "Vesperon.Task";
// The agent event folder and its descriptor.
inline constexpr const char* agentTracking = "Vesperon.AgentTracking";
// Connecting agents; the message is for the user.
inline constexpr const char* agentConnections = "Vesperon.AgentConnections";
// An agent's settings file is not valid JSON.
inline constexpr const char* json = "JSON";
// The one running instance and the hand-over to it.
inline constexpr const char* instance = "Vesperon.Instance";

} // namespace vesperon::errorDomain
