#pragma once

namespace vesperon {

// Where the session controller is in the life of a session. Every session goes
//   Idle → Authorizing → Verifying → Active → Stopping → Idle,
// leaving early for Stopping (a failed verification, any stop) or for Idle (a setup
// the helper refused). Stopping becomes NeedsAttention when the stop file cannot be
// written or normal sleep is overdue, and goes back by itself once sleep returns.
// Restoring can begin from any phase but the two of a start and ends in Idle, or,
// when the helper fails, back where it began.
enum class SessionPhase {
    Idle,           // no session: nothing to renew, watch or stop
    Authorizing,    // the setup request waits for the administrator prompt and the helper
    Verifying,      // setup succeeded; the override is checked a few seconds later
    Active,         // verified: every tick renews the heartbeat and checks the session
    Stopping,       // the stop file is written; waiting for normal sleep to come back
    NeedsAttention, // stopping, but the stop file could not be written or sleep is overdue
    Restoring,      // the restore request waits for the administrator prompt and the helper
};

// A start request is in flight: the prompt, the helper, or the verification.
constexpr bool startInFlight(SessionPhase phase) {
    return phase == SessionPhase::Authorizing || phase == SessionPhase::Verifying;
}

// The stop file has been asked for and normal sleep has not come back yet.
constexpr bool stopInFlight(SessionPhase phase) {
    return phase == SessionPhase::Stopping || phase == SessionPhase::NeedsAttention;
}

} // namespace vesperon
