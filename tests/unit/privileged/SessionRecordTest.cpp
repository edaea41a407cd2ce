#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <sys/stat.h>
#include <tuple>

#include "FakeMachine.hpp"
#include "privileged/SessionRecord.hpp"

namespace vesperon {
namespace {

using nlohmann::json;

json goodRecord() {
    return json{
        {"pid", 4242},
        {"deadline", 1796575532.8770313},
        {"heartbeat", "/tmp/Vesperon-1/heartbeat"},
        {"stop", "/tmp/Vesperon-1/stop"},
        {"previous", false},
        {"timing",
         {{"version", 1}, {"bootID", "BOOT"}, {"started", 704.039101121}, {"duration", 600}}}};
}

TEST(SessionRecordDecode, AGoodRecordWithExtraKeys) {
    json record = goodRecord();
    record["extra"] = {1, 2, 3};
    record["timing"]["extra"] = "x";
    const auto session = decodeSession(record.dump());
    ASSERT_TRUE(session);
    EXPECT_EQ(session->pid, 4242);
    EXPECT_DOUBLE_EQ(session->deadline, 1796575532.8770313);
    EXPECT_EQ(session->heartbeat, "/tmp/Vesperon-1/heartbeat");
    EXPECT_EQ(session->stop, "/tmp/Vesperon-1/stop");
    EXPECT_FALSE(session->previous);
    ASSERT_TRUE(session->timing);
    EXPECT_EQ(session->timing->bootID, "BOOT");
    EXPECT_DOUBLE_EQ(session->timing->started, 704.039101121);
    EXPECT_DOUBLE_EQ(session->timing->duration, 600);

    // Integers are numbers, the extremes of a 32-bit pid fit, and a null or absent
    // timing decodes as none.
    record["deadline"] = 17;
    record["pid"] = -2147483648LL;
    record["timing"] = nullptr;
    ASSERT_TRUE(decodeSession(record.dump()));
    EXPECT_EQ(decodeSession(record.dump())->pid, std::numeric_limits<std::int32_t>::min());
    EXPECT_FALSE(decodeSession(record.dump())->timing);
    record.erase("timing");
    ASSERT_TRUE(decodeSession(record.dump()));
}

TEST(SessionRecordDecode, EveryKeyMustBePresentWithItsJsonType) {
    const std::vector<std::tuple<std::string, std::string, json>> wrong = {
        {"", "pid", nullptr},
        {"", "deadline", nullptr},
        {"", "heartbeat", nullptr},
        {"", "stop", nullptr},
        {"", "previous", nullptr},
        {"timing", "version", nullptr},
        {"timing", "bootID", nullptr},
        {"timing", "started", nullptr},
        {"timing", "duration", nullptr}, // erased (a null value stands for "missing")
        {"", "pid", 4242.5},
        {"", "pid", "4242"},
        {"", "pid", true},
        {"", "pid", 2147483648LL},
        {"", "pid", -2147483649LL},
        {"", "deadline", "1"},
        {"", "heartbeat", 1},
        {"", "previous", 0},
        {"", "timing", "soon"},
        {"", "timing", json::array()},
        {"timing", "version", 1.5},
        {"timing", "bootID", 7},
        {"timing", "started", "0"},
        {"timing", "duration", false}};
    for (const auto& [parent, key, value] : wrong) {
        json record = goodRecord();
        json& holder = parent.empty() ? record : record[parent];
        if (value.is_null()) {
            holder.erase(key);
        } else {
            holder[key] = value;
        }
        EXPECT_FALSE(decodeSession(record.dump())) << parent << "." << key << " = " << value;
    }
}

TEST(SessionRecordDecode, BadBytesAreInvalidNeverACrash) {
    for (const std::string& bytes :
         {std::string(), std::string("[]"), std::string("null"), goodRecord().dump() + "x",
          std::string(1000000, '[') + std::string(1000000, ']')}) {
        EXPECT_FALSE(decodeSession(bytes)) << bytes.substr(0, 20);
    }
    std::mt19937 random(7);
    for (int round = 0; round < 500; ++round) {
        std::string bytes(static_cast<std::size_t>(random() % 300), '\0');
        for (char& byte : bytes) {
            byte = static_cast<char>(random());
        }
        EXPECT_FALSE(decodeSession(bytes));
    }
}

TEST(SessionTiming, RemainingCountsDownAndRefusesTimingThatCannotBeTrusted) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        std::int64_t version;
        std::string bootID;
        double started, duration, now;
        std::optional<std::string> boot;
        std::optional<double> remaining;
    };
    const std::vector<Case> cases = {
        {1, "BOOT", 100, 600, 100, "BOOT", 600},
        {1, "BOOT", 100, 600, 350, "BOOT", 350},
        {1, "BOOT", 100, 600, 5000, "BOOT", 0}, // never negative
        {1, "BOOT", 0, 30, 0, "BOOT", 30},      // thirty seconds to one day
        {1, "BOOT", 0, 86400, 0, "BOOT", 86400},
        {1, "BOOT", 0, 29.999, 0, "BOOT", std::nullopt},
        {1, "BOOT", 0, 86400.001, 0, "BOOT", std::nullopt},
        {2, "BOOT", 100, 600, 200, "BOOT", std::nullopt}, // another version
        {1, "BOOT", 100, 600, 200, std::nullopt, std::nullopt},
        {1, "BOOT", 100, 600, 200, "boot", std::nullopt}, // another boot
        {1, "", 100, 600, 200, "", std::nullopt},
        {1, "BOOT", 100, 600, inf, "BOOT", std::nullopt},
        {1, "BOOT", 100, 600, nan, "BOOT", std::nullopt},
        {1, "BOOT", nan, 600, 200, "BOOT", std::nullopt},
        {1, "BOOT", 100, inf, 200, "BOOT", std::nullopt},
        {1, "BOOT", -1, 600, 200, "BOOT", std::nullopt},
        {1, "BOOT", 200.5, 600, 200, "BOOT", std::nullopt}, // started in the future
    };
    for (const Case& c : cases) {
        const SessionTiming timing{c.version, c.bootID, c.started, c.duration};
        EXPECT_EQ(timing.remaining(c.now, c.boot), c.remaining)
            << c.started << " + " << c.duration << " at " << c.now;
    }
}

TEST(SessionTiming, HeartbeatIsFreshFromZeroToJustBelowTwentySeconds) {
    const double inf = std::numeric_limits<double>::infinity();
    for (const double age : {0.0, 19.999}) {
        EXPECT_TRUE(SessionTiming::heartbeatFresh(age)) << age;
    }
    for (const double age : {20.0, -0.001, std::numeric_limits<double>::quiet_NaN(), inf, -inf}) {
        EXPECT_FALSE(SessionTiming::heartbeatFresh(age)) << age;
    }
}

Session sampleSession() {
    Session session;
    session.pid = 31337;
    session.deadline = 1796575532.8770313;
    session.heartbeat = "/tmp/Vesperon-ÄÖ \"quoted\"/heartbeat";
    session.stop = "/tmp/Vesperon-ÄÖ \"quoted\"/stop";
    session.timing = SessionTiming{1, "BOOT-ID", 0.1 + 0.2, 86400};
    return session;
}

TEST(SessionRecordFile, SaveAndLoadKeepTheRecordAndItsBytes) {
    test::TemporaryFolder folder;
    const std::string path = folder / "session.json";
    const Session session = sampleSession();
    ASSERT_TRUE(saveSession(session, path));
    const auto loaded = loadSession(path);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->bytes, *encodeSession(session));
    EXPECT_EQ(loaded->bytes.find('\n'), std::string::npos); // compact
    EXPECT_EQ(loaded->session.deadline, session.deadline);  // the very same double
    EXPECT_EQ(loaded->session.heartbeat, session.heartbeat);
    EXPECT_EQ(loaded->session.timing->started, 0.1 + 0.2);
    // Saved again over the old file: the same bytes, and no temporary file left.
    ASSERT_TRUE(saveSession(session, path));
    EXPECT_EQ(readSessionBytes(path), loaded->bytes);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                            std::filesystem::directory_iterator()),
              1);

    // The same meaning in other bytes is another record.
    const std::string reordered = json::parse(loaded->bytes).dump(); // keys sorted
    ASSERT_NE(reordered, loaded->bytes);
    test::writeFile(path, reordered);
    EXPECT_TRUE(loadSession(path));
    EXPECT_NE(readSessionBytes(path), loaded->bytes);
}

TEST(SessionRecordFile, MissingHugeOrOddFilesAreMissingOrInvalid) {
    test::TemporaryFolder folder;
    EXPECT_FALSE(loadSession(folder / "absent.json"));
    EXPECT_FALSE(readSessionBytes(folder.path())); // a folder
    // A valid record padded beyond the size cap is refused without being parsed.
    test::writeFile(folder / "huge.json",
                    goodRecord().dump() + std::string(maxSessionRecordBytes, ' '));
    EXPECT_FALSE(readSessionBytes(folder / "huge.json"));
    test::writeFile(folder / "deep.json", std::string(40000, '[') + std::string(40000, ']'));
    EXPECT_FALSE(loadSession(folder / "deep.json"));
    test::writeFile(folder / "real.json", goodRecord().dump());
    ::symlink((folder / "real.json").c_str(), (folder / "link.json").c_str());
    EXPECT_TRUE(loadSession(folder / "real.json"));
    EXPECT_FALSE(loadSession(folder / "link.json")); // not followed
}

TEST(SessionRecordFile, SavingFailsCleanly) {
    test::TemporaryFolder folder;
    const auto missingFolder = saveSession(sampleSession(), folder / "absent/session.json");
    ASSERT_FALSE(missingFolder);
    EXPECT_NE(missingFolder.error().message.find("No such file or directory"), std::string::npos);
    // A path that is not UTF-8 cannot be recorded faithfully: an error, not a throw.
    Session session = sampleSession();
    session.stop = "/tmp/\xFF\xFE/stop";
    EXPECT_FALSE(encodeSession(session));
    EXPECT_FALSE(saveSession(session, folder / "session.json"));
    EXPECT_FALSE(readSessionBytes(folder / "session.json"));
}

} // namespace
} // namespace vesperon
