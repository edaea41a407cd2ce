#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

#include "ProcessMachine.hpp"

namespace vesperon::test {
namespace {
std::unique_ptr<FakeMachine> machine;
}

FakeMachine& processMachine() {
    return *machine;
}

} // namespace vesperon::test

int main(int argc, char** argv) {
    // The layout is fixed at its first use, so the machine must be named before then.
    vesperon::test::machine = std::make_unique<vesperon::test::FakeMachine>();
    ::setenv("VESPERON_SANDBOX", vesperon::test::machine->root().c_str(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    vesperon::test::machine.reset();
    return result;
}
