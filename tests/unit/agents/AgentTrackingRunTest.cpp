#include "agents/AgentTrackingRun.hpp"

#include <fcntl.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "common/Uuid.hpp"

namespace vesperon {
namespace {

using nlohmann::json;
using namespace testing; // readFile, writeFile, permissions, entries
using Names = std::vector<std::string>;

constexpr double runStart = 1'700'000'000.0;

class AgentTrackingRunTest : public ::testing::Test {
  protected:
    AgentTrackingRun& makeRun(double grace = 10.0) {
        clock_ = runStart;
        return run_.emplace(
            root_, [this] { return clock_; }, grace);
    }
    void armedRun(std::optional<std::string> provider = {}, double grace = 10.0) {
        EXPECT_TRUE(makeRun(grace).arm(provider));
    }
    std::string runFolder() const { return root_ + "/" + *run_->runID(); }
    json event(const std::string& session, const std::string& state, double at,
               const std::string& provider = "claude") const {
        return {{"runID", *run_->runID()},
                {"provider", provider},
                {"sessionID", session},
                {"state", state},
                {"timestamp", at}};
    }
    std::string writeEvent(const std::string& session, const std::string& state, double at,
                           const std::string& provider = "claude") {
        return writeRaw(newUuidText() + ".json", event(session, state, at, provider).dump());
    }
    std::string writeRaw(const std::string& name, const std::string& text, mode_t mode = 0600) {
        writeFile(runFolder() + "/" + name, text, mode);
        return name;
    }
    AgentTrackingSnapshot pollAt(double at) {
        clock_ = at;
        return run_->poll();
    }

    testing::TempFolder folder_;
    std::string root_ = folder_ / "Library/Application Support/Vesperon/AgentEvents";
    double clock_ = runStart;
    std::optional<AgentTrackingRun> run_;
};

TEST_F(AgentTrackingRunTest, ArmAndDisarmKeepToPrivateFilesOfTheirOwn) {
    AgentTrackingRun& run = makeRun();
    EXPECT_FALSE(run.arm(std::string("Claude")));
    const auto runID = run.arm(std::string("claude"));
    ASSERT_TRUE(runID);
    for (const std::string& folder : {folder_ / "Library", root_, runFolder()}) {
        EXPECT_EQ(permissions(folder), 0700) << folder;
    }
    EXPECT_EQ(entries(root_), (Names{*runID, "current.json"}));
    EXPECT_EQ(permissions(root_ + "/current.json"), 0600);
    EXPECT_EQ(run.poll().summary, "Waiting for an agent task");

    run.disarm();
    EXPECT_EQ(run.poll().summary, "Agent tracking off");
    chmod(root_.c_str(), 0755);
    EXPECT_EQ(run.arm().error().message, "Agent event folder must be private and owned by you.");
    chmod(root_.c_str(), 0700);

    // A crashed run's folder, descriptor and draft go; what is not of the layout stays.
    const std::string abandoned = newUuidText();
    mkdir((root_ + "/" + abandoned).c_str(), 0700);
    writeFile(root_ + "/" + abandoned + "/" + newUuidText() + ".json", "{}");
    writeFile(root_ + "/current.json", json{{"runID", abandoned}}.dump());
    writeFile(root_ + "/.current.json." + newUuidText() + ".tmp", "{");
    writeFile(root_ + "/notes.txt", "mine");
    const auto next = run.arm();
    ASSERT_TRUE(next);
    EXPECT_EQ(entries(root_), (Names{*next, "current.json", "notes.txt"}));
}

TEST_F(AgentTrackingRunTest, BusyThenQuietFinishesWhenTheGracePeriodHasPassed) {
    armedRun();
    EXPECT_EQ(pollAt(runStart + 45).summary, "No agent events \u00b7 check connection");
    writeEvent("s1", "busy", runStart + 46);
    EXPECT_EQ(pollAt(runStart + 47).summary, "Agent working");
    writeEvent("s1", "idle", runStart + 48);
    AgentTrackingSnapshot snapshot = pollAt(runStart + 50); // the grace period starts here
    EXPECT_EQ(snapshot.summary, "Agent turn finished \u00b7 checking for more work");
    EXPECT_FALSE(snapshot.shouldFinish);
    writeEvent("s1", "busy", runStart + 55);
    EXPECT_FALSE(pollAt(runStart + 56).shouldFinish);
    writeEvent("s1", "failed", runStart + 57);
    EXPECT_FALSE(pollAt(runStart + 60).shouldFinish) << "busy started the wait again at +60";
    EXPECT_FALSE(pollAt(runStart + 69.9).shouldFinish);
    snapshot = pollAt(runStart + 70);
    EXPECT_TRUE(snapshot.shouldFinish);
    EXPECT_TRUE(snapshot.ready);
}

TEST_F(AgentTrackingRunTest, OnlyASessionSeenWorkingCanEndTheRun) {
    armedRun(std::nullopt, 0);
    writeEvent("s1", "idle", runStart + 1);
    writeEvent("s2", "ended", runStart + 1);
    writeEvent("s3", "waiting", runStart + 1);
    writeEvent("s3", "idle", runStart + 2);
    EXPECT_EQ(pollAt(runStart + 3).summary, "Waiting for approval");
    EXPECT_FALSE(pollAt(runStart + 1000).shouldFinish);
    writeEvent("s3", "busy", runStart + 1001);
    writeEvent("s3", "waiting", runStart + 1002);
    EXPECT_EQ(pollAt(runStart + 1003).waitingCount, 1);
    writeEvent("s3", "idle", runStart + 1004);
    EXPECT_TRUE(pollAt(runStart + 1005).shouldFinish);
}

TEST_F(AgentTrackingRunTest, EventsAreAppliedInTimestampOrderAndNeverRollBack) {
    armedRun(std::nullopt, 0);
    writeEvent("s1", "idle", runStart + 3);
    writeEvent("s1", "busy", runStart + 2);
    EXPECT_TRUE(pollAt(runStart + 4).shouldFinish) << "sorted, busy comes before idle";
    writeEvent("s1", "busy", runStart + 2.5);
    EXPECT_EQ(pollAt(runStart + 5).busyCount, 0) << "an older event arriving late is dropped";
    EXPECT_TRUE(entries(runFolder()).empty());
    writeEvent("s1", "busy", runStart + 3);
    EXPECT_EQ(pollAt(runStart + 6).busyCount, 1) << "an equal timestamp is applied";
}

TEST_F(AgentTrackingRunTest, EventsOfOtherRunsProvidersAndTimesAreDroppedWithoutHarm) {
    armedRun(std::string("codex"));
    json other = event("old", "busy", runStart + 1, "codex");
    other["runID"] = newUuidText();
    writeRaw(newUuidText() + ".json", other.dump());
    writeEvent("early", "busy", runStart - 0.5, "codex");
    writeEvent("late", "busy", runStart + 15.01, "codex");
    writeEvent("other", "busy", runStart + 1, "claude");
    writeEvent("edge", "busy", runStart + 15, "codex"); // exactly 5 s ahead
    const std::string writing = writeRaw(newUuidText() + ".tmp", R"({"half":)");
    const AgentTrackingSnapshot snapshot = pollAt(runStart + 10);
    EXPECT_TRUE(snapshot.ready);
    EXPECT_EQ(snapshot.trackedCount, 1);
    EXPECT_EQ(entries(runFolder()), Names{writing}) << "a hook's draft is left alone";
}

TEST_F(AgentTrackingRunTest, UnexpectedEntriesInterruptTrackingForGood) {
    const json valid = json::parse(
        R"({"runID":"R","provider":"claude","sessionID":"s","state":"busy","timestamp":1700000001})");
    const auto with = [&](const char* key, json value) {
        json changed = valid;
        changed[key] = std::move(value);
        return changed.dump();
    };
    std::string oversized = valid.dump();
    oversized.insert(1, 2049 - oversized.size(), ' ');
    const std::string uuid = newUuidText();
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"notes.txt", valid.dump()},
        {uuid + ".json", with("extra", 1)},
        {uuid + ".json", json{{"runID", "R"}}.dump()},
        {uuid + ".json", with("state", "sleeping")},
        {uuid + ".json", with("sessionID", "a b")},
        {uuid + ".json", with("timestamp", "1700000001")},
        {uuid + ".json", with("provider", "gemini")},
        {uuid + ".json", valid.dump().substr(0, 40)},
        {uuid + ".json", oversized},
    };
    for (const auto& [name, text] : rows) {
        armedRun(std::nullopt, 0);
        writeEvent("s1", "busy", runStart + 1);
        writeEvent("s1", "idle", runStart + 2);
        writeRaw(name, text);
        SCOPED_TRACE(name + " " + text);
        EXPECT_EQ(pollAt(runStart + 3).summary, AgentTrackingSnapshot::interruptedSummary);
        EXPECT_TRUE(entries(runFolder()).empty()) << "removed";
        EXPECT_FALSE(pollAt(runStart + 100).shouldFinish);
    }

    // 2,048 bytes is the largest event; private regular files only.
    armedRun();
    std::string padded = event("s1", "busy", runStart + 1).dump();
    writeRaw(newUuidText() + ".json", padded.insert(1, 2048 - padded.size(), ' '));
    EXPECT_EQ(pollAt(runStart + 2).busyCount, 1);
    writeRaw(newUuidText() + ".json", event("s1", "idle", runStart + 2).dump(), 0644);
    EXPECT_FALSE(pollAt(runStart + 3).ready) << "readable by others";
    armedRun();
    writeFile(folder_ / "event.json", event("s", "busy", runStart + 1).dump());
    std::filesystem::create_symlink(folder_ / "event.json", runFolder() + "/" + uuid + ".json");
    EXPECT_FALSE(pollAt(runStart + 2).ready) << "symbolic link";
    EXPECT_TRUE(std::filesystem::exists(folder_ / "event.json")) << "the link goes, not its target";
}

TEST_F(AgentTrackingRunTest, ABacklogIsConsumedOldestFirst) {
    armedRun(std::nullopt, 0);
    // 128 sessions that worked and finished, 100 still busy: 356 files, more than one poll takes.
    const auto dated = [&](const std::string& session, const char* state, double at) {
        const std::string path = runFolder() + "/" + writeEvent(session, state, at);
        const timespec times[2] = {{static_cast<time_t>(at), 0}, {static_cast<time_t>(at), 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    };
    for (int i = 0; i < 128; ++i) {
        dated("done-" + std::to_string(i), "busy", runStart + 1 + i);
        dated("done-" + std::to_string(i), "idle", runStart + 300 + i);
    }
    for (int i = 0; i < 100; ++i) {
        dated("busy-" + std::to_string(i), "busy", runStart + 150 + i);
    }
    (void)pollAt(runStart + 500);
    const AgentTrackingSnapshot snapshot = pollAt(runStart + 500);
    EXPECT_TRUE(entries(runFolder()).empty());
    EXPECT_EQ(snapshot.trackedCount, 228);
    EXPECT_EQ(snapshot.busyCount, 100) << "a finished session was left looking busy";
}

} // namespace
} // namespace vesperon
