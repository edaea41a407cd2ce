#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/Error.hpp"

namespace vesperon {

// How long a session may last, on the continuous clock of one boot.
struct SessionTiming {
    std::int64_t version = 1;
    std::string bootID;
    double started = 0;  // continuousSeconds() at setup
    double duration = 0; // seconds, 30 to 86,400

    static constexpr std::int64_t currentVersion = 1;
    static constexpr double shortestDuration = 30;
    static constexpr double longestDuration = 86400;
    static constexpr double heartbeatLimit = 20;

    // Seconds left at the continuous time `now` in the boot `boot`; nothing when the
    // timing cannot be trusted (other version or boot, empty boot identifier, values
    // that are not finite, a start in the future, a duration out of range).
    std::optional<double> remaining(double now, const std::optional<std::string>& boot) const;

    // Whether a heartbeat `age` seconds old shows a living application: 0 <= age < 20.
    static bool heartbeatFresh(double age);
};

// The session record that setup leaves for the recovery watcher.
struct Session {
    std::int32_t pid = 0;
    double deadline = 0; // wall-clock seconds since 1970; informational only
    std::string heartbeat;
    std::string stop;
    bool previous = false;
    std::optional<SessionTiming> timing;
};

// The record as compact JSON. Fails only for text that is not UTF-8.
[[nodiscard]] Result<std::string> encodeSession(const Session& session);

// Decodes a record: a JSON object with every required key of the right JSON type
// (integers where integers are due); extra keys are ignored. Nothing otherwise.
std::optional<Session> decodeSession(std::string_view bytes);

// Writes the record atomically to `path` (the root state folder's session.json by default).
[[nodiscard]] Result<void> saveSession(const Session& session);
[[nodiscard]] Result<void> saveSession(const Session& session, const std::string& path);

// The record file's raw bytes; nothing when it is absent, not a regular file, or
// larger than any real record can be.
std::optional<std::string> readSessionBytes(const std::string& path);
constexpr std::size_t maxSessionRecordBytes = std::size_t{64} * 1024;

// A record as the watcher holds it: decoded, with the exact bytes it came from.
struct LoadedSession {
    Session session;
    std::string bytes;
};

// Reads and decodes the record at `path`; nothing when it is missing or invalid.
std::optional<LoadedSession> loadSession(const std::string& path);

} // namespace vesperon
