// Qt stays in the display module: the executable does not link it, and the roles
// that do not draw never map it.
#include "SessionFixture.hpp"

namespace vesperon::e2e {
namespace {

void expectNoQt(const std::string& text) {
    EXPECT_NE(text.find("libc.so"), std::string::npos) << text;
    EXPECT_EQ(text.find("Qt"), std::string::npos) << text;
    EXPECT_EQ(text.find("vesperon-gui"), std::string::npos) << text;
}

using DisplayModuleBoundary = SessionFixture;

TEST_F(DisplayModuleBoundary, TheExecutableAndARunningWatcherHoldNoQt) {
    const ProcessOutcome ldd = runProcess({"/usr/bin/ldd", VESPERON_EXECUTABLE});
    ASSERT_EQ(ldd.status, 0) << ldd.err;
    expectNoQt(ldd.out);
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    ASSERT_GT(watcherPid(), 0);
    expectNoQt(readFile("/proc/" + std::to_string(watcherPid()) + "/maps"));
}

} // namespace
} // namespace vesperon::e2e
