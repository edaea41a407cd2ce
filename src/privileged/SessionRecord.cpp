#include "privileged/SessionRecord.hpp"

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "common/AtomicFile.hpp"
#include "common/DescriptorIO.hpp"
#include "common/ErrorDomains.hpp"
#include "common/UntrustedJson.hpp"
#include "platform/SystemLayout.hpp"

namespace vesperon {
namespace {

// Deep enough for the record's two levels, far too shallow to exhaust the stack.
constexpr std::size_t maxRecordDepth = 8;

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

std::optional<std::int64_t> integerMember(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = member(object, key);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (value->is_number_unsigned()) {
        const auto number = value->get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(number);
    }
    if (value->is_number_integer()) {
        return value->get<std::int64_t>();
    }
    return std::nullopt;
}

std::optional<double> numberMember(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = member(object, key);
    if (value == nullptr || !value->is_number()) {
        return std::nullopt;
    }
    return value->get<double>();
}

std::optional<std::string> stringMember(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = member(object, key);
    if (value == nullptr || !value->is_string()) {
        return std::nullopt;
    }
    return value->get<std::string>();
}

std::optional<bool> booleanMember(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = member(object, key);
    if (value == nullptr || !value->is_boolean()) {
        return std::nullopt;
    }
    return value->get<bool>();
}

std::optional<SessionTiming> decodeTiming(const nlohmann::json& object) {
    if (!object.is_object()) {
        return std::nullopt;
    }
    const auto version = integerMember(object, "version");
    const auto bootID = stringMember(object, "bootID");
    const auto started = numberMember(object, "started");
    const auto duration = numberMember(object, "duration");
    if (!version || !bootID || !started || !duration) {
        return std::nullopt;
    }
    return SessionTiming{*version, *bootID, *started, *duration};
}

} // namespace

std::optional<double> SessionTiming::remaining(double now,
                                               const std::optional<std::string>& boot) const {
    if (version != currentVersion) {
        return std::nullopt;
    }
    if (!boot || *boot != bootID) {
        return std::nullopt;
    }
    if (bootID.empty()) {
        return std::nullopt;
    }
    if (!std::isfinite(now) || !std::isfinite(started) || !std::isfinite(duration)) {
        return std::nullopt;
    }
    if (started < 0 || started > now) {
        return std::nullopt;
    }
    if (duration < shortestDuration || duration > longestDuration) {
        return std::nullopt;
    }
    return std::max(0.0, duration - (now - started));
}

bool SessionTiming::heartbeatFresh(double age) {
    return std::isfinite(age) && age >= 0 && age < heartbeatLimit;
}

Result<std::string> encodeSession(const Session& session) {
    nlohmann::ordered_json object;
    object["pid"] = session.pid;
    object["deadline"] = session.deadline;
    object["heartbeat"] = session.heartbeat;
    object["stop"] = session.stop;
    object["previous"] = session.previous;
    if (session.timing) {
        nlohmann::ordered_json timing;
        timing["version"] = session.timing->version;
        timing["bootID"] = session.timing->bootID;
        timing["started"] = session.timing->started;
        timing["duration"] = session.timing->duration;
        object["timing"] = std::move(timing);
    }
    try {
        return object.dump();
    } catch (const nlohmann::json::exception& error) {
        // A path that is not UTF-8 cannot be written faithfully; a record that names
        // other files than the ones asked for would watch the wrong session.
        return fail(errorDomain::encoding,
                    std::string("The session record could not be encoded: ") + error.what());
    }
}

std::optional<Session> decodeSession(std::string_view bytes) {
    const auto parsed = parseUntrustedJson(bytes, maxRecordDepth);
    if (!parsed || !parsed->is_object()) {
        return std::nullopt;
    }
    const nlohmann::json& object = *parsed;
    const auto pid = integerMember(object, "pid");
    const auto deadline = numberMember(object, "deadline");
    const auto heartbeat = stringMember(object, "heartbeat");
    const auto stop = stringMember(object, "stop");
    const auto previous = booleanMember(object, "previous");
    if (!pid || *pid < std::numeric_limits<std::int32_t>::min() ||
        *pid > std::numeric_limits<std::int32_t>::max() || !deadline || !heartbeat || !stop ||
        !previous) {
        return std::nullopt;
    }
    Session session{
        static_cast<std::int32_t>(*pid), *deadline, *heartbeat, *stop, *previous, std::nullopt};
    // A null timing counts as an absent one: the record decodes and the session is over.
    if (const nlohmann::json* timing = member(object, "timing"); timing && !timing->is_null()) {
        session.timing = decodeTiming(*timing);
        if (!session.timing) {
            return std::nullopt;
        }
    }
    return session;
}

Result<void> saveSession(const Session& session, const std::string& path) {
    auto encoded = encodeSession(session);
    if (!encoded) {
        return std::unexpected(encoded.error());
    }
    return writeFileAtomically(path, *encoded);
}

Result<void> saveSession(const Session& session) {
    return saveSession(session, systemLayout().sessionRecordPath());
}

std::optional<std::string> readSessionBytes(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return readToEnd(fd, maxSessionRecordBytes);
}

std::optional<LoadedSession> loadSession(const std::string& path) {
    auto bytes = readSessionBytes(path);
    if (!bytes) {
        return std::nullopt;
    }
    auto session = decodeSession(*bytes);
    if (!session) {
        return std::nullopt;
    }
    return LoadedSession{std::move(*session), std::move(*bytes)};
}

} // namespace vesperon
