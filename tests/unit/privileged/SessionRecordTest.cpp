#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <nlohmann/json.hpp>

#include "StandInRootTools.hpp"

namespace vesperon::testing {
namespace {

using nlohmann::json;

json goodRecord() {
    return json{
        {"pid", 4242},
        {"deadline", 1796575532.8770313},
        {"heartbeat", "/tmp/Vesperon-1/heartbeat"},
        {"stop", "/tmp/Vesperon-1/stop"},
        {"previous", false},
        {"timing", {{"version", 1}, {"bootID", "B"}, {"started", 704.0391}, {"duration", 600}}}};
}

TEST(SessionRecord, EveryKeyMustBePresentWithItsJsonType) {
    // Each row sets one key ("" the record, "timing" the timing; a discarded value
    // erases it) and says whether the record still decodes.
    const json erase = json::value_t::discarded;
    const std::vector<std::tuple<std::string, std::string, json, bool>> rows = {
        {"", "extra", {1, 2}, true},     {"", "timing", nullptr, true},
        {"", "timing", erase, true},     {"", "pid", -2147483648LL, true},
        {"", "pid", erase, false},       {"", "deadline", erase, false},
        {"", "heartbeat", erase, false}, {"", "stop", erase, false},
        {"", "previous", erase, false},  {"timing", "version", erase, false},
        {"", "pid", 4242.5, false},      {"", "pid", 2147483648LL, false},
        {"", "previous", 0, false},      {"timing", "bootID", 7, false}};
    for (const auto& [parent, key, value, valid] : rows) {
        json record = goodRecord();
        json& holder = parent.empty() ? record : record[parent];
        value.is_discarded() ? (void)holder.erase(key) : (void)(holder[key] = value);
        EXPECT_EQ(decodeSession(record.dump()).has_value(), valid)
            << parent << "." << key << " = " << value;
    }
    for (const std::string bytes : {"", "[]", "null", "{}x"}) {
        EXPECT_FALSE(decodeSession(bytes)) << bytes;
    }
}

TEST(SessionRecord, TimeLeftCountsDownAndRefusesTimingThatCannotBeTrusted) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Row {
        std::int64_t version;
        double started, duration, now;
        std::optional<std::string> boot;
        std::optional<double> remaining;
    };
    const std::vector<Row> rows = {
        {1, 100, 600, 350, "B", 350},
        {1, 100, 600, 5000, "B", 0}, // never negative
        {1, 0, 30, 0, "B", 30},      // thirty seconds to one day
        {1, 0, 86400, 0, "B", 86400},
        {1, 0, 29.999, 0, "B", std::nullopt},
        {1, 0, 86400.001, 0, "B", std::nullopt},
        {2, 100, 600, 200, "B", std::nullopt}, // a newer version
        {0, 100, 600, 200, "B", std::nullopt},
        {1, 100, 600, 200, std::nullopt, std::nullopt},
        {1, 100, 600, 200, "b", std::nullopt}, // another boot
        {1, 100, 600, nan, "B", std::nullopt},
        {1, 100, inf, 200, "B", std::nullopt},
        {1, -1, 600, 200, "B", std::nullopt},
        {1, 200.5, 600, 200, "B", std::nullopt}, // started in the future
    };
    for (const Row& row : rows) {
        const SessionTiming timing{row.version, "B", row.started, row.duration};
        EXPECT_EQ(timing.remaining(row.now, row.boot), row.remaining)
            << row.version << " " << row.started << " + " << row.duration << " at " << row.now;
    }
}

TEST(SessionRecord, SaveAndLoadKeepTheBytesAndRefuseOddFiles) {
    TemporaryFolder folder;
    const std::string path = folder / "session.json";
    Session session = *decodeSession(goodRecord().dump());
    session.heartbeat = "/tmp/Vesperon-ÄÖ \"quoted\"/heartbeat";
    session.timing->started = 0.1 + 0.2;
    ASSERT_TRUE(saveSession(session, path));
    const auto loaded = loadSession(path);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->bytes, *encodeSession(session));
    EXPECT_EQ(loaded->session.heartbeat, session.heartbeat);
    EXPECT_EQ(loaded->session.timing->started, 0.1 + 0.2); // the very same double

    writeFile(folder / "huge.json", goodRecord().dump() + std::string(maxSessionRecordBytes, ' '));
    writeFile(folder / "deep.json", std::string(40000, '[') + std::string(40000, ']'));
    ::symlink(path.c_str(), (folder / "link.json").c_str());
    for (const char* odd : {"absent.json", "huge.json", "deep.json", "link.json"}) {
        EXPECT_FALSE(loadSession(folder / odd)) << odd;
    }
    // A path that is not UTF-8 cannot be recorded faithfully: an error, not a throw.
    session.stop = "/tmp/\xFF\xFE/stop";
    EXPECT_FALSE(saveSession(session, folder / "other.json"));
    EXPECT_FALSE(std::filesystem::exists(folder / "other.json"));
}

} // namespace
} // namespace vesperon::testing
