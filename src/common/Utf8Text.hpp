#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vesperon {

// True when `bytes` is well-formed UTF-8: no overlong forms, no surrogates, nothing
// above U+10FFFF, no truncated sequences.
bool isValidUtf8(std::string_view bytes);

// Decodes the code point that starts at `bytes[index]` and advances `index` past it.
// A byte that does not start a well-formed sequence decodes as U+FFFD and advances by one.
char32_t nextCodePoint(std::string_view bytes, std::size_t& index);

// Whether `c` has the Unicode White_Space property: tab, U+000A to U+000D, space,
// U+0085, no-break space and the other space separators, U+2028 and U+2029.
bool isWhiteSpace(char32_t c);

// `text` without leading and trailing White_Space characters; nothing when `text`
// is not valid UTF-8.
std::optional<std::string> trimWhiteSpace(std::string_view text);

} // namespace vesperon
