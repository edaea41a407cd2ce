#pragma once

#include <string>

namespace vesperon {

// Why a session is ending: the title of the session-ended notification and the first
// part of the outcome line. The texts are in FinishReason.cpp.
enum class FinishReason {
    SessionEnded, // nobody gave a reason (quitting, a failed start's leftovers)
    TimerEnded,
    BatteryProtection,
    HeatProtection,
    AgentWorkFinished,
    ProtectionEnded, // the override went off, or the root state went, under a running session
    ConnectionLost,  // the heartbeat could not be renewed
    StartNotVerified,
    AgentTrackingFailed,
    TaskCouldNotStart,
    TaskCompleted,
    TaskFailed, // with the task's exit status
    EndedManually,
    EndedByAutomation,
};

// A finish reason with the exit status that a failed task's reason names.
struct Finish {
    Finish() = default;
    Finish(FinishReason why, int status = 0) : reason(why), exitStatus(status) {}

    FinishReason reason = FinishReason::SessionEnded;
    int exitStatus = 0; // of TaskFailed

    // "Task completed" for status 0, else "Task failed (exit N)".
    static Finish ofTask(int status);
    [[nodiscard]] std::string text() const;
};

} // namespace vesperon
