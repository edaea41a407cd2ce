#include "agents/AgentTrackingRun.hpp"

#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include "AgentEventTestFolder.hpp"
#include "agents/AgentEventBridge.hpp"
#include "common/Uuid.hpp"

namespace vesperon {
namespace {

using nlohmann::json;
using testing::entries;
using testing::exists;
using testing::permissions;
using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

constexpr double kStart = 1'700'000'000.0;

class AgentTrackingRunTest : public ::testing::Test {
  protected:
    AgentTrackingRunTest()
        : root_(folder_.path() + "/Library/Application Support/Vesperon/AgentEvents") {}

    AgentTrackingRun& makeRun(double grace = 10.0) {
        run_.emplace(
            root_, [this] { return clock_; }, grace);
        return *run_;
    }
    AgentTrackingRun& armedRun(const std::optional<std::string>& provider = std::nullopt,
                               double grace = 10.0) {
        AgentTrackingRun& run = makeRun(grace);
        const auto armed = run.arm(provider);
        EXPECT_TRUE(armed) << (armed ? "" : armed.error().message);
        return run;
    }
    std::string runFolder() const { return root_ + "/" + *run_->runID(); }

    // Drops an event file as a hook process would publish it.
    std::string writeEvent(const std::string& session, const std::string& state, double timestamp,
                           const std::string& provider = "claude",
                           std::optional<std::string> runID = std::nullopt) {
        const json event = {{"runID", runID ? *runID : *run_->runID()},
                            {"provider", provider},
                            {"sessionID", session},
                            {"state", state},
                            {"timestamp", timestamp}};
        return writeRaw(newUuidText() + ".json", event.dump());
    }
    std::string writeRaw(const std::string& name, const std::string& text, mode_t mode = 0600) {
        writeFile(runFolder() + "/" + name, text, mode);
        return name;
    }
    AgentTrackingSnapshot pollAt(double at) {
        clock_ = at;
        return run_->poll();
    }

    TempFolder folder_;
    std::string root_;
    double clock_ = kStart;
    std::optional<AgentTrackingRun> run_;
};

// ---------------------------------------------------------------------------
// arm and disarm

TEST_F(AgentTrackingRunTest, PollBeforeArmingSaysTrackingIsOff) {
    AgentTrackingRun& run = makeRun();
    const AgentTrackingSnapshot snapshot = run.poll();
    EXPECT_EQ(snapshot.summary, "Agent tracking off");
    EXPECT_FALSE(snapshot.ready);
    EXPECT_FALSE(snapshot.shouldFinish);
    EXPECT_EQ(snapshot.trackedCount, 0);
}

TEST_F(AgentTrackingRunTest, ArmCreatesPrivateFoldersAndAnExactDescriptor) {
    AgentTrackingRun& run = makeRun();
    const auto runID = run.arm(std::string("claude"));
    ASSERT_TRUE(runID);
    ASSERT_TRUE(Uuid::parse(*runID));
    EXPECT_EQ(Uuid::parse(*runID)->text(), *runID);
    EXPECT_EQ(run.runID(), *runID);
    EXPECT_EQ(run.selectedProvider(), "claude");
    EXPECT_EQ(run.startedAt(), kStart);

    EXPECT_EQ(permissions(root_), 0700);
    EXPECT_EQ(permissions(folder_.path() + "/Library"), 0700) << "missing parents are private too";
    EXPECT_EQ(permissions(runFolder()), 0700);
    EXPECT_TRUE(entries(runFolder()).empty());
    EXPECT_EQ(entries(root_), (std::vector<std::string>{*runID, "current.json"}));
    EXPECT_EQ(permissions(root_ + "/current.json"), 0600);
    const json descriptor = json::parse(readFile(root_ + "/current.json"));
    EXPECT_EQ(descriptor.size(), 3u);
    EXPECT_EQ(descriptor["runID"], *runID);
    EXPECT_EQ(descriptor["startedAt"].get<double>(), kStart);
    EXPECT_EQ(descriptor["ownerPID"], getpid());

    const AgentTrackingSnapshot snapshot = run.poll();
    EXPECT_EQ(snapshot.summary, "Waiting for an agent task");
    EXPECT_TRUE(snapshot.ready);
}

TEST_F(AgentTrackingRunTest, ArmRefusesUnsupportedProvidersAndPublicFolders) {
    AgentTrackingRun& run = makeRun();
    const auto unsupported = run.arm(std::string("Claude"));
    ASSERT_FALSE(unsupported);
    EXPECT_EQ(unsupported.error().domain, "Vesperon.AgentTracking");
    EXPECT_EQ(unsupported.error().code, 1);
    EXPECT_EQ(unsupported.error().message, "Unsupported agent provider.");
    EXPECT_FALSE(exists(root_)) << "nothing is created for a refused provider";

    std::filesystem::create_directories(root_);
    chmod(root_.c_str(), 0755);
    const auto open = run.arm();
    ASSERT_FALSE(open);
    EXPECT_EQ(open.error().domain, "Vesperon.AgentTracking");
    EXPECT_EQ(open.error().message, "Agent event folder must be private and owned by you.");
    EXPECT_FALSE(run.runID());
    EXPECT_EQ(run.poll().summary, "Agent tracking off");
}

TEST_F(AgentTrackingRunTest, ArmRemovesADescriptorThatIsNotPrivateAndLeavesNoRunFolder) {
    std::filesystem::create_directories(root_);
    chmod(root_.c_str(), 0700);
    const std::string target = folder_.path() + "/target.json";
    writeFile(target, "{}");
    std::filesystem::create_symlink(target, root_ + "/current.json");

    AgentTrackingRun& run = makeRun();
    const auto armed = run.arm();
    ASSERT_FALSE(armed);
    EXPECT_EQ(armed.error().domain, "Vesperon.AgentTracking");
    EXPECT_EQ(armed.error().message, "Agent event descriptor is not a private regular file.");
    EXPECT_FALSE(exists(root_ + "/current.json"));
    EXPECT_EQ(readFile(target), "{}") << "the link's target is never touched";
    EXPECT_TRUE(entries(root_).empty()) << "the new run folder is not left behind";

    writeFile(root_ + "/current.json", "{}", 0644);
    EXPECT_FALSE(run.arm());
    EXPECT_FALSE(exists(root_ + "/current.json"));

    // Once the bad descriptor is gone, arming works.
    EXPECT_TRUE(run.arm());
}

TEST_F(AgentTrackingRunTest, ArmingAgainDisarmsTheEarlierRun) {
    AgentTrackingRun& run = armedRun();
    const std::string first = *run.runID();
    writeEvent("s1", "busy", kStart + 1);
    ASSERT_EQ(run.poll().busyCount, 1);
    const auto second = run.arm(std::string("codex"));
    ASSERT_TRUE(second);
    EXPECT_NE(*second, first);
    EXPECT_FALSE(exists(root_ + "/" + first));
    EXPECT_EQ(entries(root_), (std::vector<std::string>{*second, "current.json"}));
    const AgentTrackingSnapshot snapshot = run.poll();
    EXPECT_EQ(snapshot.trackedCount, 0) << "sessions start afresh";
}

TEST_F(AgentTrackingRunTest, ArmClearsRunsAbandonedByAnEarlierProcess) {
    // What a crashed application leaves: its descriptor, its run folder with events,
    // and a descriptor draft. Anything not of the layout stays.
    std::filesystem::create_directories(root_);
    chmod(root_.c_str(), 0700);
    const std::string abandoned = root_ + "/" + newUuidText();
    mkdir(abandoned.c_str(), 0700);
    writeFile(abandoned + "/" + newUuidText() + ".json", "{}");
    writeFile(root_ + "/current.json",
              json{{"runID", abandoned.substr(root_.size() + 1)}, {"startedAt", 1}, {"ownerPID", 1}}
                  .dump());
    writeFile(root_ + "/.current.json." + newUuidText() + ".tmp", "{");
    writeFile(root_ + "/notes.txt", "mine");
    mkdir((root_ + "/keep").c_str(), 0700);

    AgentTrackingRun& run = makeRun();
    const auto runID = run.arm();
    ASSERT_TRUE(runID);
    EXPECT_EQ(entries(root_),
              (std::vector<std::string>{*runID, "current.json", "keep", "notes.txt"}));
}

TEST_F(AgentTrackingRunTest, DisarmRemovesOnlyWhatBelongsToTheRun) {
    AgentTrackingRun& run = armedRun();
    writeEvent("s1", "busy", kStart);
    run.disarm();
    EXPECT_TRUE(entries(root_).empty());
    EXPECT_FALSE(run.runID());
    EXPECT_EQ(run.poll().summary, "Agent tracking off");
    run.disarm(); // a second disarm does nothing

    ASSERT_TRUE(run.arm());
    const std::string runFolderPath = runFolder();
    const std::string foreign =
        R"({"runID":"11111111-2222-4333-8444-555555555555","startedAt":1,"ownerPID":1})";
    writeFile(root_ + "/current.json", foreign);
    run.disarm();
    EXPECT_EQ(readFile(root_ + "/current.json"), foreign) << "another run's descriptor stays";
    EXPECT_FALSE(exists(runFolderPath));
}

TEST_F(AgentTrackingRunTest, DisarmLeavesFoldersThatLostTheirPrivacy) {
    AgentTrackingRun& run = armedRun();
    const std::string runFolderPath = runFolder();
    chmod(runFolderPath.c_str(), 0755);
    run.disarm();
    EXPECT_TRUE(exists(runFolderPath));
    EXPECT_FALSE(exists(root_ + "/current.json"));
}

// ---------------------------------------------------------------------------
// poll: the session table, grace period and summaries

TEST_F(AgentTrackingRunTest, SilenceHintAfter45Seconds) {
    AgentTrackingRun& run = armedRun();
    (void)run;
    EXPECT_EQ(pollAt(kStart + 44).summary, "Waiting for an agent task");
    const AgentTrackingSnapshot silent = pollAt(kStart + 45);
    EXPECT_EQ(silent.summary, "No agent events \u00b7 check connection");
    EXPECT_TRUE(silent.ready);
    EXPECT_FALSE(silent.shouldFinish);
}

TEST_F(AgentTrackingRunTest, BusyThenIdleFinishesAfterTheGracePeriod) {
    armedRun();
    writeEvent("s1", "busy", kStart + 1);
    AgentTrackingSnapshot snapshot = pollAt(kStart + 2);
    EXPECT_EQ(snapshot.summary, "Agent working");
    EXPECT_EQ(snapshot.busyCount, 1);
    EXPECT_EQ(snapshot.trackedCount, 1);
    EXPECT_TRUE(entries(runFolder()).empty()) << "consumed events are removed";

    writeEvent("s1", "idle", kStart + 3);
    snapshot = pollAt(kStart + 4); // the grace period starts here
    EXPECT_EQ(snapshot.summary, "Agent turn finished \u00b7 checking for more work");
    EXPECT_EQ(snapshot.busyCount, 0);
    EXPECT_FALSE(snapshot.shouldFinish);
    EXPECT_FALSE(pollAt(kStart + 13.9).shouldFinish);
    snapshot = pollAt(kStart + 14);
    EXPECT_TRUE(snapshot.shouldFinish);
    EXPECT_TRUE(snapshot.ready);
}

TEST_F(AgentTrackingRunTest, BusyDuringTheGracePeriodStartsTheWaitAgain) {
    armedRun();
    writeEvent("s1", "busy", kStart + 1);
    writeEvent("s1", "idle", kStart + 2);
    EXPECT_FALSE(pollAt(kStart + 3).shouldFinish);
    writeEvent("s1", "busy", kStart + 8);
    EXPECT_EQ(pollAt(kStart + 9).summary, "Agent working");
    writeEvent("s1", "failed", kStart + 10);
    EXPECT_FALSE(pollAt(kStart + 14).shouldFinish) << "grace restarted at +14";
    EXPECT_FALSE(pollAt(kStart + 23).shouldFinish);
    EXPECT_TRUE(pollAt(kStart + 24).shouldFinish);
}

TEST_F(AgentTrackingRunTest, EndingStatesOfASessionNeverSeenBusyAreIgnored) {
    armedRun();
    writeEvent("s1", "idle", kStart + 1);
    writeEvent("s2", "ended", kStart + 1);
    writeEvent("s3", "failed", kStart + 1);
    AgentTrackingSnapshot snapshot = pollAt(kStart + 2);
    EXPECT_EQ(snapshot.summary, "Waiting for an agent task");
    EXPECT_EQ(snapshot.trackedCount, 0);
    EXPECT_TRUE(entries(runFolder()).empty());
    EXPECT_FALSE(pollAt(kStart + 100).shouldFinish);
}

TEST_F(AgentTrackingRunTest, AWaitingSessionKeepsTheRunAlive) {
    armedRun(std::nullopt, 0);
    writeEvent("s1", "waiting", kStart + 1);
    AgentTrackingSnapshot snapshot = pollAt(kStart + 2);
    EXPECT_EQ(snapshot.summary, "Waiting for approval");
    EXPECT_EQ(snapshot.waitingCount, 1);
    // Seen only waiting, the session cannot be ended by an idle event.
    writeEvent("s1", "idle", kStart + 3);
    snapshot = pollAt(kStart + 1000);
    EXPECT_EQ(snapshot.summary, "Waiting for approval");
    EXPECT_FALSE(snapshot.shouldFinish);
    // Once busy, it can.
    writeEvent("s1", "busy", kStart + 1001);
    writeEvent("s1", "waiting", kStart + 1002);
    EXPECT_EQ(pollAt(kStart + 1003).waitingCount, 1);
    writeEvent("s1", "idle", kStart + 1004);
    EXPECT_TRUE(pollAt(kStart + 1005).shouldFinish);
}

TEST_F(AgentTrackingRunTest, EventsAreAppliedInTimestampOrderAndNeverRollBack) {
    armedRun(std::nullopt, 0);
    // Written in reverse order: sorted, busy comes first and idle ends the turn.
    writeEvent("s1", "idle", kStart + 3);
    writeEvent("s1", "busy", kStart + 2);
    EXPECT_TRUE(pollAt(kStart + 4).shouldFinish);
    // An older busy arriving late is discarded.
    writeEvent("s1", "busy", kStart + 2.5);
    AgentTrackingSnapshot snapshot = pollAt(kStart + 5);
    EXPECT_EQ(snapshot.busyCount, 0);
    EXPECT_TRUE(snapshot.shouldFinish);
    EXPECT_TRUE(entries(runFolder()).empty());
    // An equal timestamp is applied.
    writeEvent("s1", "busy", kStart + 3);
    EXPECT_EQ(pollAt(kStart + 6).busyCount, 1);
}

TEST_F(AgentTrackingRunTest, ForeignAndOutOfRangeEventsAreRemovedWithoutHarm) {
    armedRun(std::string("codex"));
    writeEvent("old", "busy", kStart + 1, "codex", newUuidText()); // older run
    writeEvent("early", "busy", kStart - 0.5, "codex");            // before arming
    writeEvent("late", "busy", kStart + 10 + 5.01, "codex");       // > 5 s ahead
    writeEvent("other", "busy", kStart + 1, "claude");             // not the chosen provider
    writeEvent("edge", "busy", kStart + 15, "codex");              // exactly 5 s ahead
    const AgentTrackingSnapshot snapshot = pollAt(kStart + 10);
    EXPECT_TRUE(snapshot.ready);
    EXPECT_FALSE(run_->integrityFailure());
    EXPECT_EQ(snapshot.trackedCount, 1);
    EXPECT_EQ(snapshot.summary, "Agent working");
    EXPECT_TRUE(entries(runFolder()).empty());
}

TEST_F(AgentTrackingRunTest, TemporaryFilesOfHookProcessesAreLeftAlone) {
    armedRun();
    const std::string writing = writeRaw(newUuidText() + ".tmp", R"({"half":)");
    const AgentTrackingSnapshot snapshot = pollAt(kStart + 1);
    EXPECT_TRUE(snapshot.ready);
    EXPECT_EQ(entries(runFolder()), std::vector<std::string>{writing});
}

// ---------------------------------------------------------------------------
// poll: integrity

TEST_F(AgentTrackingRunTest, StrayEntriesAreAnIntegrityFailureForTheWholeRun) {
    const std::vector<std::pair<std::string, std::string>> strays = {
        {"notes.txt", "hello"},
        {"event.json", "{}"},
        {newUuidText() + ".JSON", "{}"},
        {newUuidText() + ".json.bak", "{}"},
        {".hidden", ""},
    };
    for (const auto& [name, text] : strays) {
        armedRun(std::nullopt, 0);
        writeEvent("s1", "busy", kStart + 1);
        writeEvent("s1", "idle", kStart + 2);
        writeRaw(name, text);
        AgentTrackingSnapshot snapshot = pollAt(kStart + 3);
        EXPECT_EQ(snapshot.summary, "Tracking interrupted \u00b7 timer remains active") << name;
        EXPECT_FALSE(snapshot.ready) << name;
        EXPECT_FALSE(snapshot.shouldFinish) << name;
        EXPECT_TRUE(entries(runFolder()).empty()) << name << " is removed";
        snapshot = pollAt(kStart + 100);
        EXPECT_FALSE(snapshot.shouldFinish) << "permanent: " << name;
        EXPECT_FALSE(snapshot.ready);
    }
}

TEST_F(AgentTrackingRunTest, MalformedEventFilesAreAnIntegrityFailure) {
    const std::string uuid = newUuidText();
    auto event = [&](json changes, std::initializer_list<const char*> drop = {}) {
        json base = {{"runID", "R"},
                     {"provider", "claude"},
                     {"sessionID", "s1"},
                     {"state", "busy"},
                     {"timestamp", kStart + 1}};
        for (const char* key : drop) {
            base.erase(key);
        }
        if (changes.is_object()) {
            base.update(changes);
        }
        return base.dump();
    };
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"extra key", event({{"extra", 1}})},
        {"missing key", event(json::object(), {"state"})},
        {"timestamp boolean", event({{"timestamp", true}})},
        {"timestamp text", event({{"timestamp", "1"}})},
        {"state unknown", event({{"state", "sleeping"}})},
        {"provider unknown", event({{"provider", "gemini"}})},
        {"session invalid", event({{"sessionID", "a b"}})},
        {"runID number", event({{"runID", 7}})},
        {"array", "[1,2,3]"},
        {"truncated", event(json::object()).substr(0, 40)},
        {"invalid UTF-8", "{\"x\":\"\xff\"}"},
        {"empty", ""},
        {"deep", std::string(1000, '[') + std::string(1000, ']')},
    };
    for (const auto& [what, text] : bad) {
        armedRun();
        std::string fixed = text;
        if (auto at = fixed.find("\"R\""); at != std::string::npos) {
            fixed.replace(at, 3, "\"" + *run_->runID() + "\"");
        }
        writeRaw(uuid + ".json", fixed);
        const AgentTrackingSnapshot snapshot = pollAt(kStart + 2);
        EXPECT_FALSE(snapshot.ready) << what;
        EXPECT_TRUE(run_->integrityFailure()) << what;
        EXPECT_TRUE(entries(runFolder()).empty()) << what;
    }
}

TEST_F(AgentTrackingRunTest, EventFileSizeLimitIsInclusive) {
    armedRun();
    json event = {{"runID", *run_->runID()},
                  {"provider", "claude"},
                  {"sessionID", "s1"},
                  {"state", "busy"},
                  {"timestamp", kStart + 1}};
    std::string text = event.dump();
    text.insert(1, 2048 - text.size(), ' ');
    writeRaw(newUuidText() + ".json", text);
    AgentTrackingSnapshot snapshot = pollAt(kStart + 2);
    EXPECT_TRUE(snapshot.ready);
    EXPECT_EQ(snapshot.busyCount, 1);

    writeRaw(newUuidText() + ".json", " " + text);
    snapshot = pollAt(kStart + 3);
    EXPECT_FALSE(snapshot.ready);
    EXPECT_TRUE(entries(runFolder()).empty());
}

TEST_F(AgentTrackingRunTest, EventFilesMustBePrivateRegularFiles) {
    armedRun();
    writeRaw(newUuidText() + ".json", "{}", 0644);
    EXPECT_FALSE(pollAt(kStart + 1).ready) << "readable by others";

    armedRun();
    const std::string target = folder_.path() + "/event.json";
    writeFile(target, json{{"runID", *run_->runID()},
                           {"provider", "claude"},
                           {"sessionID", "s"},
                           {"state", "busy"},
                           {"timestamp", kStart + 1}}
                          .dump());
    std::filesystem::create_symlink(target, runFolder() + "/" + newUuidText() + ".json");
    EXPECT_FALSE(pollAt(kStart + 2).ready) << "symbolic link";
    EXPECT_TRUE(exists(target)) << "the link is removed, not its target";

    armedRun();
    const std::string folder = runFolder() + "/" + newUuidText() + ".json";
    std::filesystem::create_directories(folder + "/inner");
    EXPECT_FALSE(pollAt(kStart + 3).ready) << "a folder";
    EXPECT_FALSE(exists(folder));
}

TEST_F(AgentTrackingRunTest, FoldersThatLoseTheirPrivacyInterruptTracking) {
    armedRun();
    chmod(runFolder().c_str(), 0750);
    EXPECT_EQ(pollAt(kStart + 1).summary, "Tracking interrupted \u00b7 timer remains active");

    armedRun();
    chmod(root_.c_str(), 0711);
    EXPECT_FALSE(pollAt(kStart + 1).ready);
    chmod(root_.c_str(), 0700);

    armedRun();
    std::filesystem::remove_all(runFolder());
    EXPECT_FALSE(pollAt(kStart + 1).ready) << "run folder gone";

    armedRun();
    const std::string moved = folder_.path() + "/moved";
    std::filesystem::rename(runFolder(), moved);
    std::filesystem::create_directory_symlink(moved, runFolder());
    EXPECT_FALSE(pollAt(kStart + 1).ready) << "run folder replaced by a link";
}

TEST_F(AgentTrackingRunTest, ABurstOver256EntriesPostponesFinishing) {
    armedRun(std::nullopt, 0);
    writeEvent("s1", "busy", kStart + 1);
    ASSERT_EQ(pollAt(kStart + 1).busyCount, 1);
    // 257 idle events for the one session: drained over two polls.
    for (int i = 0; i < 257; ++i) {
        writeEvent("s1", "idle", kStart + 2 + i * 0.001);
    }
    AgentTrackingSnapshot snapshot = pollAt(kStart + 3);
    EXPECT_FALSE(snapshot.shouldFinish) << "not drained yet";
    EXPECT_TRUE(snapshot.ready);
    EXPECT_EQ(entries(runFolder()).size(), 1u);
    snapshot = pollAt(kStart + 3);
    EXPECT_TRUE(snapshot.shouldFinish);
    EXPECT_TRUE(entries(runFolder()).empty());
}

TEST_F(AgentTrackingRunTest, AnEventBacklogIsConsumedOldestFirst) {
    armedRun(std::nullopt, 0);
    // 128 sessions that worked and finished, and 100 still busy: 356 files, more than
    // one poll takes. Each file is dated when its hook wrote it.
    const auto dated = [&](const std::string& name, double at) {
        const timespec times[2] = {{static_cast<time_t>(at), 0}, {static_cast<time_t>(at), 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, (runFolder() + "/" + name).c_str(), times, 0), 0);
    };
    for (int i = 0; i < 128; ++i) {
        dated(writeEvent("done-" + std::to_string(i), "busy", kStart + 1 + i), kStart + 1 + i);
        dated(writeEvent("done-" + std::to_string(i), "idle", kStart + 300 + i), kStart + 300 + i);
    }
    for (int i = 0; i < 100; ++i) {
        dated(writeEvent("busy-" + std::to_string(i), "busy", kStart + 150 + i), kStart + 150 + i);
    }
    AgentTrackingSnapshot snapshot = pollAt(kStart + 500);
    snapshot = pollAt(kStart + 500);
    EXPECT_TRUE(entries(runFolder()).empty());
    EXPECT_EQ(snapshot.trackedCount, 228);
    EXPECT_EQ(snapshot.busyCount, 100) << "a finished session was left looking busy";
}

TEST_F(AgentTrackingRunTest, MoreThan256SessionsIsAnIntegrityFailure) {
    armedRun();
    for (int i = 0; i < 256; ++i) {
        writeEvent("s" + std::to_string(i), "busy", kStart + 1);
    }
    AgentTrackingSnapshot snapshot = pollAt(kStart + 2);
    EXPECT_EQ(snapshot.trackedCount, 256);
    EXPECT_TRUE(snapshot.ready);
    writeEvent("s0", "busy", kStart + 3);
    EXPECT_TRUE(pollAt(kStart + 4).ready) << "known sessions still update";
    writeEvent("one-more", "busy", kStart + 5);
    snapshot = pollAt(kStart + 6);
    EXPECT_FALSE(snapshot.ready);
    EXPECT_EQ(snapshot.trackedCount, 256);
    EXPECT_TRUE(entries(runFolder()).empty());
}

TEST_F(AgentTrackingRunTest, MoreThan4096EntriesIsAnIntegrityFailure) {
    armedRun();
    for (int i = 0; i < 4097; ++i) {
        writeRaw(newUuidText() + ".tmp", "");
    }
    EXPECT_FALSE(pollAt(kStart + 1).ready);

    armedRun();
    for (int i = 0; i < 4096; ++i) {
        writeRaw(newUuidText() + ".tmp", "");
    }
    EXPECT_TRUE(pollAt(kStart + 1).ready) << "4,096 entries are tolerated";
}

// ---------------------------------------------------------------------------
// The bridge and the run together, through the real files.

TEST(AgentTrackingRoundTrip, EventsEmittedByTheBridgeEndTheRun) {
    TempFolder folder;
    const std::string root = folder.path() + "/events";
    AgentTrackingRun run(root, nullptr, 0);
    ASSERT_TRUE(run.arm(std::string("claude")));
    EXPECT_TRUE(AgentEventBridge::emit(
        "claude", R"({"session_id":"abc","hook_event_name":"UserPromptSubmit"})", root));
    EXPECT_TRUE(AgentEventBridge::emit(
        "codex", R"({"session_id":"abc","hook_event_name":"UserPromptSubmit"})", root));
    AgentTrackingSnapshot snapshot = run.poll();
    EXPECT_EQ(snapshot.summary, "Agent working");
    EXPECT_EQ(snapshot.trackedCount, 1) << "codex is not the chosen provider";
    EXPECT_TRUE(
        AgentEventBridge::emit("claude", R"({"session_id":"abc","hook_event_name":"Stop"})", root));
    snapshot = run.poll();
    EXPECT_TRUE(snapshot.shouldFinish);
    EXPECT_TRUE(snapshot.ready);

    run.disarm();
    EXPECT_FALSE(AgentEventBridge::emit(
        "claude", R"({"session_id":"abc","hook_event_name":"UserPromptSubmit"})", root))
        << "nothing is written once the run is disarmed";
    EXPECT_TRUE(entries(root).empty());
}

} // namespace
} // namespace vesperon
