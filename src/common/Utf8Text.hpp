#pragma once

#include <cstddef>
#include <string_view>

namespace vesperon {

// True when `bytes` is well-formed UTF-8: no overlong forms, no surrogates, nothing
// above U+10FFFF, no truncated sequences.
bool isValidUtf8(std::string_view bytes);

// Decodes the code point that starts at `bytes[index]` and advances `index` past it.
// A byte that does not start a well-formed sequence decodes as U+FFFD and advances by one.
char32_t nextCodePoint(std::string_view bytes, std::size_t& index);

} // namespace vesperon
