#pragma once

#include <string>
#include <string_view>

namespace vesperon {

// Quotes `text` as one word for a POSIX shell: every ' becomes '\'' inside single quotes.
std::string shellQuote(std::string_view text);

// Quotes `text` as an AppleScript string literal: backslash, double quote and line
// feed are escaped, in that order; other control characters pass unchanged.
std::string appleQuote(std::string_view text);

} // namespace vesperon
