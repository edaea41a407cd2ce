#include "app/Outcome.hpp"

namespace vesperon {

std::string Outcome::text() const {
    switch (kind) {
    case OutcomeKind::SessionEnded:
        return finish.text() + " · sleep restored";
    case OutcomeKind::SleepRestored:
        return "Sleep restored";
    case OutcomeKind::UseRestore:
        return "Use Restore normal sleep";
    case OutcomeKind::ShortcutUnavailable:
        return "Session shortcut unavailable";
    }
    return {};
}

} // namespace vesperon
