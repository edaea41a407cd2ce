#pragma once

#include <string>

#include "app/FinishReason.hpp"

namespace vesperon {

// The panel's one-line outcome of the last session, restore or launch. The texts are
// in Outcome.cpp.
enum class OutcomeKind {
    SessionEnded,  // the finish reason, then " · sleep restored"
    SleepRestored, // a restore succeeded
    UseRestore,    // normal sleep is overdue after a stop
    ShortcutUnavailable,
};

struct Outcome {
    Outcome(OutcomeKind what, Finish why = {}) : kind(what), finish(why) {}

    OutcomeKind kind;
    Finish finish; // of SessionEnded

    static Outcome ended(Finish finish) { return {OutcomeKind::SessionEnded, finish}; }
    [[nodiscard]] std::string text() const;
};

} // namespace vesperon
