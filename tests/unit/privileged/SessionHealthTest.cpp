#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

#include "StandInRootTools.hpp"
#include "privileged/BoundedCalls.hpp"
#include "privileged/SessionHealth.hpp"

namespace vesperon::testing {
namespace {

using namespace std::chrono_literals;

// The health rules against this process's own machine, with a record that passes every
// rule until a row breaks one.
class SessionHealthTest : public ::testing::Test {
  protected:
    void save() {
        machine.installSession(session);
        record = *loadSession(recordPath);
    }
    void withPid(std::int32_t pid) {
        session.pid = pid;
        save();
    }
    // A 30-second session just started, then the machine sleeps for `seconds`.
    void asleepFor(double seconds) {
        session.timing->started = machine.clock() - 0.5;
        session.timing->duration = 30;
        save();
        machine.addSleep(seconds);
    }
    void setHeartbeatAge(double seconds) const {
        std::filesystem::last_write_time(
            session.heartbeat,
            std::filesystem::file_time_type::clock::now() -
                std::chrono::duration_cast<std::filesystem::file_time_type::duration>(
                    std::chrono::duration<double>(seconds)));
    }

    StandInRootTools& machine = processMachine();
    TemporaryFolder folder;
    std::string recordPath = machine.layout().sessionRecordPath();
    Session session;
    LoadedSession record;
};

TEST_F(SessionHealthTest, EachRuleInItsOrder) {
    BackgroundProcess application({"/bin/sleep", "60"});
    BackgroundProcess ended({"/bin/sleep", "60"});
    const pid_t endedPid = ended.pid();
    ended.kill();
    using H = SessionHealth;
    const std::vector<std::tuple<std::string, std::function<void()>, H>> rows = {
        {"untouched", [] {}, H::Healthy},
        {"record grown", [&] { writeFile(recordPath, record.bytes + " "); }, H::RecordChanged},
        {"record gone", [&] { ::unlink(recordPath.c_str()); }, H::RecordChanged},
        {"record rewritten alike", [&] { writeFile(recordPath, record.bytes); }, H::Healthy},
        {"asleep most of the time", [&] { asleepFor(29); }, H::Healthy},
        {"slept through the end", [&] { asleepFor(30); }, H::TimeUp},
        {"another boot", [&] { machine.put("boot-id", "ANOTHER"); }, H::TimeUp},
        {"no boot id", [&] { machine.remove("boot-id"); }, H::TimeUp},
        {"no timing", [&] { session.timing.reset(), save(); }, H::TimeUp},
        {"application alive", [&] { withPid(application.pid()); }, H::Healthy},
        {"application ended", [&] { withPid(endedPid); }, H::ApplicationGone},
        // Ids that kill() would read as init or as process groups.
        {"pid 1", [&] { withPid(1); }, H::ApplicationGone},
        {"pid 0", [&] { withPid(0); }, H::ApplicationGone},
        {"pid -1", [&] { withPid(-1); }, H::ApplicationGone},
        {"stop file", [&] { writeFile(session.stop, ""); }, H::StopRequested},
        {"stop link", [&] { ::symlink("/nonexistent", session.stop.c_str()); }, H::StopRequested},
        {"heartbeat 19.5 s old", [&] { setHeartbeatAge(19.5); }, H::Healthy},
        {"heartbeat 20.5 s old", [&] { setHeartbeatAge(20.5); }, H::HeartbeatStale},
        {"heartbeat from the future", [&] { setHeartbeatAge(-5); }, H::HeartbeatStale},
        {"heartbeat gone", [&] { ::unlink(session.heartbeat.c_str()); }, H::HeartbeatUnreadable},
        {"battery 16 %", [&] { machine.setBattery(16, false); }, H::Healthy},
        {"battery 15 %", [&] { machine.setBattery(15, false); }, H::BatteryUnsafe},
        {"battery 1 % on mains", [&] { machine.setBattery(1, true); }, H::Healthy},
        {"no power sources", [&] { machine.remove("power-sources.json"); }, H::BatteryUnsafe},
        {"thermal 1", [&] { machine.put("thermal", "1"); }, H::Healthy},
        {"thermal 2", [&] { machine.put("thermal", "2"); }, H::TooHot},
    };
    for (const auto& [name, change, expected] : rows) {
        SCOPED_TRACE(name);
        machine.reset();
        ::unlink(session.stop.c_str());
        session = healthySession(machine, folder.path());
        save();
        change();
        EXPECT_EQ(checkSessionHealth(record, recordPath), expected);
    }
}

// Work that may never return (a look into a user folder that does not answer), waited
// for at most its bound: a hung call costs its caller the bound once, and later calls
// fail at once until the hung one ends.
TEST(BoundedCalls, WorkThatHangsIsGivenUpAfterTheBoundAndBlocksNothingButItself) {
    BoundedCalls calls(1s); // a loaded machine may take long to start a thread
    int result = 0;
    EXPECT_TRUE(calls.run([&result] { result = 42; }));
    EXPECT_EQ(result, 42);

    auto release = std::make_shared<std::promise<void>>();
    auto released = release->get_future().share();
    auto ran = std::make_shared<std::atomic<int>>(0);
    EXPECT_FALSE(calls.run([released, ran] {
        released.wait(); // a filesystem that does not answer
        ++*ran;
    }));
    // Still hung: the next call is refused at once, its work never queued behind.
    EXPECT_FALSE(calls.run([ran] { *ran += 10; }));

    release->set_value();
    // The hung work ends; calls are served again (allowing a loaded machine time).
    bool served = false;
    for (int attempt = 0; attempt < 300 && !served; ++attempt) {
        std::this_thread::sleep_for(10ms);
        served = calls.run([ran] { *ran += 100; });
    }
    EXPECT_TRUE(served);
    EXPECT_EQ(ran->load(), 101);
}

} // namespace
} // namespace vesperon::testing
