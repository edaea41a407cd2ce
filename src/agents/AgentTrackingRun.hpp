#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "agents/AgentTrackingSnapshot.hpp"
#include "common/Error.hpp"
#include "common/ErrorDomains.hpp"

namespace vesperon {

// The application's half of agent tracking. Arming creates a private run folder
// and the run descriptor that tells hook processes where to write; each poll drains
// the run folder, folds the events into a per-session table and says whether the
// agents' work has finished. Anything unexpected in the folders is an integrity
// failure that keeps the session from ever being ended by agent tracking.
// Main thread only.
class AgentTrackingRun {
  public:
    using Clock = std::function<double()>; // seconds since 1970-01-01 UTC

    static constexpr const char* errorDomain = vesperon::errorDomain::agentTracking;
    static constexpr std::size_t maximumEntries = 4096;
    static constexpr std::size_t entriesPerPoll = 256;
    static constexpr std::size_t maximumSessions = 256;
    static constexpr double silenceHintSeconds = 45.0;

    // `rootFolder` absent: the user's event folder. `now` absent: the wall clock.
    // A negative grace period counts as none.
    explicit AgentTrackingRun(std::optional<std::string> rootFolder = std::nullopt,
                              Clock now = nullptr, double graceSeconds = 10.0);
    ~AgentTrackingRun();
    AgentTrackingRun(const AgentTrackingRun&) = delete;
    AgentTrackingRun& operator=(const AgentTrackingRun&) = delete;

    // Starts a new run whose events count only from `provider` (absent: from every
    // supported provider); an earlier run is disarmed first. Returns the run ID.
    [[nodiscard]] Result<std::string>
    arm(const std::optional<std::string>& provider = std::nullopt);
    // Removes this run's descriptor and folder and stops tracking; never fails.
    void disarm() noexcept;
    // Consumes the run folder's events; never fails.
    AgentTrackingSnapshot poll();

    static bool validSessionID(std::string_view sessionID);

    const std::string& rootFolder() const { return rootFolder_; }
    double graceSeconds() const { return graceSeconds_; }
    const std::optional<std::string>& runID() const { return runID_; }
    const std::optional<std::string>& selectedProvider() const { return selectedProvider_; }
    double startedAt() const { return startedAt_; }
    bool integrityFailure() const { return integrityFailure_; }

  private:
    struct Session {
        std::string state;
        double timestamp = 0;
        bool sawBusy = false;
    };
    struct Event {
        std::size_t order = 0; // position among the accepted events of one poll
        std::string name;
        std::string key; // provider + ":" + session identifier
        std::string state;
        double timestamp = 0;
    };

    AgentTrackingSnapshot snapshot(bool armed, bool drained = true) const;
    std::string runFolder() const;
    void removeRunFiles() const;
    void apply(const Event& event);
    bool quiet() const;

    std::string rootFolder_;
    Clock now_;
    double graceSeconds_;
    std::optional<std::string> runID_;
    std::optional<std::string> selectedProvider_;
    double startedAt_ = 0;
    std::map<std::string, Session> sessions_;
    std::optional<double> graceStarted_;
    bool integrityFailure_ = false;
};

} // namespace vesperon
