// Work that may never return, waited for at most its bound: a hung call costs its
// caller the bound once, and later calls fail at once until the hung one ends.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "privileged/BoundedCalls.hpp"

namespace vesperon {
namespace {

using namespace std::chrono_literals;

TEST(BoundedCalls, WorkThatHangsIsGivenUpAfterTheBoundAndBlocksNothingButItself) {
    BoundedCalls calls(100ms);
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
} // namespace vesperon
