// Qt stays in the display module: the executable does not link it, and the roles
// that do not draw never map it.
#include <gtest/gtest.h>

#include "SessionFixture.hpp"

namespace vesperon::e2e {
namespace {

bool mentionsQt(const std::string& text) {
    return text.find("Qt") != std::string::npos || text.find("vesperon-gui") != std::string::npos;
}

using DisplayModuleBoundary = SessionFixture;

TEST_F(DisplayModuleBoundary, TheExecutableAndARunningWatcherHoldNoQt) {
    const ProcessOutcome ldd = runProcess({"/usr/bin/ldd", VESPERON_EXECUTABLE});
    ASSERT_EQ(ldd.status, 0) << ldd.err;
    EXPECT_NE(ldd.out.find("libc.so"), std::string::npos) << ldd.out;
    EXPECT_FALSE(mentionsQt(ldd.out)) << ldd.out;

    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    const int pid = watcherPid();
    ASSERT_GT(pid, 0);
    const std::string maps = readFile("/proc/" + std::to_string(pid) + "/maps");
    EXPECT_NE(maps.find("libc.so"), std::string::npos) << maps;
    EXPECT_FALSE(mentionsQt(maps)) << maps;
    app.createStopFile();
    expectRestoredWithin(8);
}

} // namespace
} // namespace vesperon::e2e
