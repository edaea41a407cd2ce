#pragma once

#include <cstdint>
#include <string>

#include "common/Uuid.hpp"

namespace vesperon {

// One named duration the user saved. The id is fixed when the preset is created.
struct SavedPreset {
    Uuid id;
    std::string name;     // 1 to 30 user-perceived characters, no white space around it
    std::int64_t seconds; // 60 to 86,400

    friend bool operator==(const SavedPreset&, const SavedPreset&) = default;
};

} // namespace vesperon
