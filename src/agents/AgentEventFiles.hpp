#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/OwnedFd.hpp"

namespace vesperon {

// One event file's contents: the run it belongs to, which agent's session, its new
// state, and when the hook reported it.
struct AgentEventRecord {
    std::string runID;
    std::string provider;
    std::string sessionID;
    std::string state;
    double timestamp = 0;
};

// The on-disk layout shared by the hook endpoint (writer) and the tracking run
// (reader): the event folder with its run descriptor "current.json", one private
// run folder per armed run, and one small JSON file per event in it. Also the
// vocabulary both sides check: providers, states and the session identifier rule.
class AgentEventFiles {
  public:
    static constexpr std::string_view descriptorName = "current.json";
    static constexpr std::size_t descriptorMaximum = 1024;
    static constexpr std::size_t eventMaximum = 2048;
    static constexpr std::size_t payloadMaximum = 131072;
    static constexpr std::size_t sessionIDMaximum = 160;
    // Events and arming times may lie this far ahead of the reader's clock.
    static constexpr double futureToleranceSeconds = 5.0;
    // Nesting allowed in hook payloads; descriptors and event files are flat.
    static constexpr std::size_t payloadDepthLimit = 512;
    static constexpr std::size_t recordDepthLimit = 4;

    // "codex", "claude", "opencode" or "terminal", exactly.
    static bool supportedProvider(std::string_view provider);
    // "busy", "waiting", "idle", "failed" or "ended", exactly.
    static bool knownState(std::string_view state);
    // Not empty, at most 160 bytes, only ASCII letters, digits and "-", ".", ":", "_".
    static bool validSessionID(std::string_view sessionID);

    // An event file's record: a JSON object of exactly the members "runID",
    // "provider", "sessionID", "state" (strings) and "timestamp" (a number), with a
    // supported provider, a valid session identifier and a known state; nothing
    // otherwise.
    static std::optional<AgentEventRecord> parseEventRecord(std::string_view data);

    // "Library/Application Support/Vesperon/AgentEvents" under the user's home folder;
    // on Linux "vesperon/AgentEvents" in the session's runtime folder (see
    // userRuntimeFolder), else ".local/state/vesperon/AgentEvents" under the home.
    // Empty when there is neither.
    static std::string defaultFolder();
    // Seconds since 1970-01-01 UTC, fractional.
    static double wallClockNow();

    // The folder itself (a symbolic link is not followed) is a directory owned by the
    // real user with no group or other permission bits.
    static bool privateDirectory(const std::string& path);
    // The same test on an opened folder. The returned handle only anchors lookups
    // (openat, renameat) so that later steps cannot be redirected; invalid on failure.
    static OwnedFd openPrivateDirectory(const std::string& path);
    static OwnedFd openPrivateDirectoryAt(int folder, const std::string& name);
    // The same test on a folder already opened.
    static bool privateDirectoryHandle(int folder);

    // The private file read: not through a symbolic link, a regular file owned by the
    // real user, no group or other bits, 1 to `maximum` bytes, read whole in one call.
    static std::optional<std::string> readPrivate(const std::string& path, std::size_t maximum);
    static std::optional<std::string> readPrivateAt(int folder, const std::string& name,
                                                    std::size_t maximum);
};

} // namespace vesperon
