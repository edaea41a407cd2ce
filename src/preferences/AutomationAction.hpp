#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vesperon {

// A command delivered through the application's URL scheme:
//   vesperon://start?minutes=N   N decimal digits, 1 to 1440 → start for N × 60 seconds
//   vesperon://stop              → stop
// Anything else is refused rather than guessed at.
class AutomationAction {
  public:
    enum class Kind { Start, Stop };

    static constexpr std::size_t maxUrlLength = 128;

    static AutomationAction start(std::int32_t seconds) { return {Kind::Start, seconds}; }
    static AutomationAction stop() { return {Kind::Stop, 0}; }

    // The action `url` asks for, or nothing when it is not exactly of the accepted
    // form. Pure: no access to preferences or session state.
    static std::optional<AutomationAction> parse(std::string_view url);

    Kind kind() const { return kind_; }
    // The session length of a start action; 0 for stop.
    std::int32_t seconds() const { return seconds_; }

    friend bool operator==(const AutomationAction&, const AutomationAction&) = default;

  private:
    AutomationAction(Kind kind, std::int32_t seconds) : kind_(kind), seconds_(seconds) {}

    Kind kind_;
    std::int32_t seconds_;
};

} // namespace vesperon
