#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "VirtualScheduler.hpp"
#include "app/AppWiring.hpp"

namespace vesperon {
namespace {

TEST(AppWiring, EnvironmentOfThisProcess) {
    const AppEnvironment environment = currentAppEnvironment();
    EXPECT_EQ(environment.processId, ::getpid());
    ASSERT_FALSE(environment.executablePath.empty());
    EXPECT_EQ(environment.executablePath.front(), '/');
    EXPECT_TRUE(std::filesystem::equivalent(environment.executablePath, "/proc/self/exe"));
    EXPECT_FALSE(environment.homeDirectory.empty());
    EXPECT_TRUE(std::filesystem::is_directory(environment.temporaryDirectory));
    EXPECT_EQ(environment.supportAddress, supportAddress);
}

TEST(AppWiring, DefaultPartsAreComplete) {
    testing::VirtualScheduler scheduler;
    AppEnvironment environment;
    environment.homeDirectory = "/nonexistent-home";
    const AppParts parts = defaultAppParts(scheduler, environment);
    EXPECT_NE(parts.preferences, nullptr);
    EXPECT_EQ(parts.preferences->lastDuration(), 3600);
    EXPECT_NE(parts.taskRunner, nullptr);
    EXPECT_NE(parts.agentTracking, nullptr);
    EXPECT_TRUE(parts.codexTrustCheck);
}

} // namespace
} // namespace vesperon
