#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

#include "StandInMachine.hpp"

namespace vesperon::testing {
namespace {
std::unique_ptr<StandInMachine> machine;
}

StandInMachine& processMachine() {
    return *machine;
}

} // namespace vesperon::testing

int main(int argc, char** argv) {
    // The layout is fixed at its first use, so the machine must be named before then.
    vesperon::testing::machine = std::make_unique<vesperon::testing::StandInMachine>();
    ::setenv("VESPERON_SANDBOX", vesperon::testing::machine->root().c_str(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    vesperon::testing::machine.reset();
    return result;
}
