#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vesperon {

// Parses JSON that came from outside the process (hook payloads, event files,
// descriptors, agents' settings, other programs' answers). Nesting deeper than
// `maxDepth` and any syntax or UTF-8 error give nothing; never throws.
std::optional<nlohmann::json> parseUntrustedJson(std::string_view text, std::size_t maxDepth = 64);

// Like parseUntrustedJson for a text that must be an object, but keeps only the
// members named in `keys` (of repeated names, the last, as a full parse does): the
// whole text is checked as strictly, and nothing else of it is built. Much cheaper
// than a full parse of a large text of which a few members are needed. When given,
// `unnamed` tells whether the object has members of other names.
std::optional<nlohmann::json> parseUntrustedJsonMembers(std::string_view text, std::size_t maxDepth,
                                                        std::span<const std::string_view> keys,
                                                        bool* unnamed = nullptr);

// The nesting depth of arrays and objects in `text`, counted outside strings.
std::size_t jsonNestingDepth(std::string_view text);

} // namespace vesperon
