#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <sys/stat.h>

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
    EXPECT_EQ(session->timing->version, 1);
    EXPECT_EQ(session->timing->bootID, "BOOT");
    EXPECT_DOUBLE_EQ(session->timing->started, 704.039101121);
    EXPECT_DOUBLE_EQ(session->timing->duration, 600);
}

TEST(SessionRecordDecode, EveryRequiredKeyMustBePresent) {
    for (const char* key : {"pid", "deadline", "heartbeat", "stop", "previous"}) {
        json record = goodRecord();
        record.erase(key);
        EXPECT_FALSE(decodeSession(record.dump())) << key;
    }
    for (const char* key : {"version", "bootID", "started", "duration"}) {
        json record = goodRecord();
        record["timing"].erase(key);
        EXPECT_FALSE(decodeSession(record.dump())) << key;
    }
}

TEST(SessionRecordDecode, EveryValueMustHaveItsJsonType) {
    const std::vector<std::pair<std::string, json>> wrong = {
        {"pid", 4242.5},          {"pid", "4242"},   {"pid", true},         {"pid", 2147483648LL},
        {"pid", -2147483649LL},   {"deadline", "1"}, {"deadline", true},    {"heartbeat", 1},
        {"stop", nullptr},        {"previous", 0},   {"previous", "false"}, {"timing", "soon"},
        {"timing", json::array()}};
    for (const auto& [key, value] : wrong) {
        json record = goodRecord();
        record[key] = value;
        EXPECT_FALSE(decodeSession(record.dump())) << key << " = " << value;
    }
    const std::vector<std::pair<std::string, json>> wrongTiming = {
        {"version", 1.5}, {"version", "1"}, {"bootID", 7}, {"started", "0"}, {"duration", false}};
    for (const auto& [key, value] : wrongTiming) {
        json record = goodRecord();
        record["timing"][key] = value;
        EXPECT_FALSE(decodeSession(record.dump())) << key << " = " << value;
    }
    // Integers are numbers, and the extremes of a 32-bit pid fit.
    json record = goodRecord();
    record["deadline"] = 17;
    record["pid"] = -2147483648LL;
    ASSERT_TRUE(decodeSession(record.dump()));
    EXPECT_EQ(decodeSession(record.dump())->pid, std::numeric_limits<std::int32_t>::min());
}

TEST(SessionRecordDecode, WithoutTimingTheRecordStillDecodes) {
    json record = goodRecord();
    record.erase("timing");
    const auto session = decodeSession(record.dump());
    ASSERT_TRUE(session);
    EXPECT_FALSE(session->timing);
    record["timing"] = nullptr;
    ASSERT_TRUE(decodeSession(record.dump()));
    EXPECT_FALSE(decodeSession(record.dump())->timing);
}

TEST(SessionRecordDecode, BadBytesAreInvalidNeverACrash) {
    EXPECT_FALSE(decodeSession(""));
    EXPECT_FALSE(decodeSession("[]"));
    EXPECT_FALSE(decodeSession("null"));
    EXPECT_FALSE(decodeSession(goodRecord().dump() + "x"));
    EXPECT_FALSE(decodeSession(std::string(1000000, '[') + std::string(1000000, ']')));
    std::string nested = goodRecord().dump();
    nested.insert(nested.size() - 1, ",\"deep\":" + std::string(50, '[') + std::string(50, ']'));
    EXPECT_FALSE(decodeSession(nested));
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(static_cast<std::size_t>(random() % 300), '\0');
        for (char& byte : bytes) {
            byte = static_cast<char>(random());
        }
        EXPECT_FALSE(decodeSession(bytes));
    }
}

SessionTiming timing(double started, double duration, std::string bootID = "BOOT") {
    return SessionTiming{1, std::move(bootID), started, duration};
}

TEST(SessionTimingRemaining, CountsDownFromTheStart) {
    EXPECT_EQ(timing(100, 600).remaining(100, "BOOT"), 600);
    EXPECT_EQ(timing(100, 600).remaining(350, "BOOT"), 350);
    EXPECT_EQ(timing(100, 600).remaining(700, "BOOT"), 0);
    EXPECT_EQ(timing(100, 600).remaining(5000, "BOOT"), 0); // never negative
    EXPECT_EQ(timing(0, 30).remaining(10, "BOOT"), 20);
}

TEST(SessionTimingRemaining, NothingForTimingThatCannotBeTrusted) {
    SessionTiming version2 = timing(100, 600);
    version2.version = 2;
    EXPECT_EQ(version2.remaining(200, "BOOT"), std::nullopt);
    EXPECT_EQ(timing(100, 600).remaining(200, std::nullopt), std::nullopt);
    EXPECT_EQ(timing(100, 600).remaining(200, "OTHER"), std::nullopt);
    EXPECT_EQ(timing(100, 600).remaining(200, "boot"), std::nullopt);
    EXPECT_EQ(timing(100, 600, "").remaining(200, ""), std::nullopt);
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(timing(100, 600).remaining(inf, "BOOT"), std::nullopt);
    EXPECT_EQ(timing(100, 600).remaining(nan, "BOOT"), std::nullopt);
    EXPECT_EQ(timing(nan, 600).remaining(200, "BOOT"), std::nullopt);
    EXPECT_EQ(timing(100, inf).remaining(200, "BOOT"), std::nullopt);
    EXPECT_EQ(timing(-1, 600).remaining(200, "BOOT"), std::nullopt);
    EXPECT_EQ(timing(200.5, 600).remaining(200, "BOOT"), std::nullopt); // start in the future
}

TEST(SessionTimingRemaining, DurationFromThirtySecondsToOneDay) {
    EXPECT_EQ(timing(0, 30).remaining(0, "BOOT"), 30);
    EXPECT_EQ(timing(0, 86400).remaining(0, "BOOT"), 86400);
    EXPECT_EQ(timing(0, 29.999).remaining(0, "BOOT"), std::nullopt);
    EXPECT_EQ(timing(0, 86400.001).remaining(0, "BOOT"), std::nullopt);
}

TEST(SessionTimingHeartbeat, FreshFromZeroToJustBelowTwentySeconds) {
    EXPECT_TRUE(SessionTiming::heartbeatFresh(0));
    EXPECT_TRUE(SessionTiming::heartbeatFresh(19.999));
    EXPECT_FALSE(SessionTiming::heartbeatFresh(20));
    EXPECT_FALSE(SessionTiming::heartbeatFresh(-0.001));
    EXPECT_FALSE(SessionTiming::heartbeatFresh(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(SessionTiming::heartbeatFresh(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(SessionTiming::heartbeatFresh(-std::numeric_limits<double>::infinity()));
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

TEST(SessionRecordFile, SaveAndReadBackGiveTheSameRecordAndBytes) {
    test::TemporaryFolder folder;
    const std::string path = folder / "session.json";
    const Session session = sampleSession();
    ASSERT_TRUE(saveSession(session, path));

    const auto bytes = readSessionBytes(path);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, *encodeSession(session));
    EXPECT_EQ(bytes->find('\n'), std::string::npos); // compact
    const auto loaded = loadSession(path);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->bytes, *bytes);
    EXPECT_EQ(loaded->session.pid, session.pid);
    EXPECT_EQ(loaded->session.deadline, session.deadline); // the very same double
    EXPECT_EQ(loaded->session.heartbeat, session.heartbeat);
    EXPECT_EQ(loaded->session.stop, session.stop);
    EXPECT_EQ(loaded->session.timing->started, 0.1 + 0.2);
    EXPECT_EQ(loaded->session.timing->bootID, "BOOT-ID");

    // Saved again over the old file: the same bytes, and no temporary file left.
    ASSERT_TRUE(saveSession(session, path));
    EXPECT_EQ(readSessionBytes(path), bytes);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(SessionRecordFile, SameMeaningInOtherBytesIsNotTheSameRecord) {
    test::TemporaryFolder folder;
    const std::string path = folder / "session.json";
    ASSERT_TRUE(saveSession(sampleSession(), path));
    const std::string original = *readSessionBytes(path);
    const std::string reordered = json::parse(original).dump(); // keys sorted
    ASSERT_NE(reordered, original);
    test::writeFile(path, reordered);
    EXPECT_TRUE(loadSession(path));              // still a valid record...
    EXPECT_NE(readSessionBytes(path), original); // ...in other bytes
}

TEST(SessionRecordFile, MissingHugeOrOddFilesAreMissingOrInvalid) {
    test::TemporaryFolder folder;
    EXPECT_FALSE(readSessionBytes(folder / "absent.json"));
    EXPECT_FALSE(loadSession(folder / "absent.json"));
    EXPECT_FALSE(readSessionBytes(folder.path())); // a folder

    // A valid record padded beyond the size cap is refused without being parsed.
    std::string padded = goodRecord().dump();
    padded += std::string(maxSessionRecordBytes, ' ');
    test::writeFile(folder / "huge.json", padded);
    EXPECT_FALSE(readSessionBytes(folder / "huge.json"));
    EXPECT_FALSE(loadSession(folder / "huge.json"));

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
