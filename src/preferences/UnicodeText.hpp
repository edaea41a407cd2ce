#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/Utf8Text.hpp" // isValidUtf8, trimWhiteSpace

namespace vesperon {

// Text rules shared by preset names and task commands. Every function takes UTF-8
// and answers nothing when the bytes are not valid UTF-8.

// The number of user-perceived characters (extended grapheme clusters): a letter
// with combining accents, a flag or an emoji sequence with modifiers counts as one.
std::optional<std::size_t> graphemeCount(std::string_view text);

// The key under which two names are the same: full Unicode case folding only (no
// accent or width folding), then canonical composition, so that "ÉTÉ" and "été"
// share a key, "ete" and "été" do not, and a decomposed "é" equals a composed one.
std::optional<std::string> caseFoldedKey(std::string_view text);

} // namespace vesperon
