// The portable rule the Mac's watcher uses to tell the app's process from a later one
// with its pid.
#include <gtest/gtest.h>

#include "platform/ProcessStart.hpp"

namespace vesperon {
namespace {

TEST(ProcessStart, AProcessStartedAfterSetupIsNotTheApp) {
    // Now: 1000 s on the wall clock, 50 s on the continuous clock; setup was at 40 s.
    EXPECT_TRUE(startedNoLater(990, 1000, 50, 40));   // at setup's moment
    EXPECT_TRUE(startedNoLater(990.9, 1000, 50, 40)); // within the wall clock's slack
    EXPECT_FALSE(startedNoLater(991.5, 1000, 50, 40));
}

} // namespace
} // namespace vesperon
