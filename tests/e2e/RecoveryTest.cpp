// Recovery when things go wrong: a power tool that will not switch the override off,
// and a session record that is not what setup wrote.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "SessionFixture.hpp"

namespace vesperon::e2e {
namespace {

constexpr const char* invalidState = "Missing or invalid recovery state; restoring normal sleep.\n";

using Recovery = SessionFixture;

TEST_F(Recovery, WatcherRetriesAFailedRestoreUntilItSucceeds) {
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    ASSERT_EQ(machine.sandbox({"fail-power", "1000000"}).status, 0);
    app.createStopFile();

    // The watcher gives up, exits 1 and is started again; three starts in all.
    ASSERT_TRUE(waitUntil([&] { return machine.jobStarts().size() >= 3; }, 25 + slack))
        << machine.jobsLog();
    const auto starts = machine.jobStarts();
    for (std::size_t i = 1; i < starts.size(); ++i) {
        EXPECT_GE(starts[i].wallSeconds - starts[i - 1].wallSeconds, 5.0 - 0.01);
    }
    EXPECT_NE(machine.jobsLog().find("Could not restore normal sleep; recovery will retry.\n"),
              std::string::npos)
        << machine.jobsLog();
    auto state = machine.state();
    EXPECT_EQ(state["override"], "on");
    EXPECT_EQ(state["root-state"], "present");
    EXPECT_EQ(state["job-file"], "present");
    EXPECT_EQ(state["job"], "loaded");

    // Once the power tool works again, the next start restores.
    ASSERT_EQ(machine.sandbox({"fail-power", "0"}).status, 0);
    expectRestoredWithin(14);
}

TEST_F(Recovery, ForcedRestoreWithAFailingPowerToolLeavesTheWatcherToFinishIt) {
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    ASSERT_EQ(machine.sandbox({"fail-power", "1000000"}).status, 0);
    const ProcessOutcome restore = machine.vesperon({"--restore"});
    EXPECT_EQ(restore.status, 1);
    EXPECT_EQ(restore.out, "");
    EXPECT_EQ(restore.err, "Could not restore normal sleep. Recovery files were retained.\n");
    EXPECT_GE(restore.seconds, 4.5);
    EXPECT_LE(restore.seconds, 8.0 + slack);
    auto state = machine.state();
    EXPECT_EQ(state["override"], "on");
    EXPECT_EQ(state["root-state"], "present");
    EXPECT_EQ(state["job-file"], "present");
    EXPECT_EQ(state["job"], "loaded"); // the watcher stays

    // The restore was asked for: the watcher keeps at it and finishes it once the
    // power tool works again, with the app still running and no stop file.
    ASSERT_EQ(machine.sandbox({"fail-power", "0"}).status, 0);
    expectRestoredWithin(14);
}

// Replaces the record under a paused watcher and ends that watcher, so that the next
// one, started by the service manager, reads the replaced record at its start.
void replaceRecordAndRestartWatcher(int watcherPid, const std::function<void()>& replace) {
    ASSERT_GT(watcherPid, 0);
    ASSERT_EQ(::kill(watcherPid, SIGSTOP), 0);
    replace();
    ASSERT_EQ(::kill(watcherPid, SIGKILL), 0);
}

class BadRecord : public SessionFixture {
  protected:
    void expectInvalidRecordRestores(const std::function<void()>& replace) {
        FakeApp app(machine, true);
        ASSERT_NO_FATAL_FAILURE(startSession(app));
        ASSERT_NO_FATAL_FAILURE(replaceRecordAndRestartWatcher(watcherPid(), replace));
        expectRestoredWithin(12);
        EXPECT_NE(machine.jobsLog().find(invalidState), std::string::npos) << machine.jobsLog();
    }
};

// How the record is replaced: random bytes, a valid record padded to 32 MiB, deeply
// nested JSON, or no record at all.
class BadRecordKind : public BadRecord, public ::testing::WithParamInterface<int> {};

TEST_P(BadRecordKind, RestoresSleep) {
    expectInvalidRecordRestores([&] {
        const std::string path = machine.recordPath();
        switch (GetParam()) {
        case 0: {
            std::ifstream random("/dev/urandom", std::ios::binary);
            std::string bytes(4096, '\0');
            random.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            bytes[0] = '\xff'; // never valid JSON, whatever follows
            writeFile(path, bytes);
            break;
        }
        case 1: {
            auto record = nlohmann::json::parse(readFile(path));
            record["padding"] = std::string(32 * 1024 * 1024, 'x');
            writeFile(path, record.dump());
            break;
        }
        case 2:
            writeFile(path,
                      "{\"pid\":" + std::string(200000, '[') + std::string(200000, ']') + "}");
            break;
        default:
            ::unlink(path.c_str());
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Records, BadRecordKind, ::testing::Range(0, 4));

} // namespace
} // namespace vesperon::e2e
