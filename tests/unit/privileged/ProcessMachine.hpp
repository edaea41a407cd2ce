#pragma once

#include "FakeMachine.hpp"

namespace vesperon::test {

// The machine this test process itself reads through systemLayout(): created and
// named in VESPERON_SANDBOX before any test runs, reset before each test that uses it.
FakeMachine& processMachine();

} // namespace vesperon::test
