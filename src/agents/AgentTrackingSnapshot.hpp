#pragma once

#include <string>

namespace vesperon {

// What the tracking run says after a poll: the panel's status line while agents are
// watched, the counts behind it, and whether the session may end now.
struct AgentTrackingSnapshot {
    std::string summary;
    int busyCount = 0;
    int waitingCount = 0;
    int trackedCount = 0;
    bool shouldFinish = false; // agent work has finished and the quiet period has passed
    bool ready = false;        // armed, and nothing unexpected was found

    static constexpr const char* offSummary = "Agent tracking off";
    static constexpr const char* interruptedSummary =
        "Tracking interrupted \u00b7 timer remains active";
    static constexpr const char* waitingSummary = "Waiting for approval";
    static constexpr const char* workingSummary = "Agent working";
    static constexpr const char* silentSummary = "No agent events \u00b7 check connection";
    static constexpr const char* expectingSummary = "Waiting for an agent task";
    static constexpr const char* finishedTurnSummary =
        "Agent turn finished \u00b7 checking for more work";

    friend bool operator==(const AgentTrackingSnapshot&, const AgentTrackingSnapshot&) = default;
};

} // namespace vesperon
