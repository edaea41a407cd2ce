#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vesperon {

// Parses JSON that came from outside the process (hook payloads, event files,
// descriptors, agents' settings, other programs' answers). Nesting deeper than
// `maxDepth` and any syntax or UTF-8 error give nothing; never throws.
std::optional<nlohmann::json> parseUntrustedJson(std::string_view text, std::size_t maxDepth = 64);

// The nesting depth of arrays and objects in `text`, counted outside strings.
std::size_t jsonNestingDepth(std::string_view text);

} // namespace vesperon
