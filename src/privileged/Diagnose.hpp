#pragma once

namespace vesperon {

// "--diagnose": prints the five facts about battery, heat, the sleep override, the
// lid and the recovery job; changes nothing and needs no root rights.
int diagnose();

} // namespace vesperon
