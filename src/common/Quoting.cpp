#include "common/Quoting.hpp"

namespace vesperon {

std::string shellQuote(std::string_view text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += '\'';
    return quoted;
}

std::string appleQuote(std::string_view text) {
    // One pass gives the same result as the three replacements in order, since
    // no replacement produces a character that a later one would touch again.
    std::string quoted = "\"";
    for (char c : text) {
        switch (c) {
        case '\\':
            quoted += "\\\\";
            break;
        case '"':
            quoted += "\\\"";
            break;
        case '\n':
            quoted += "\\n";
            break;
        default:
            quoted += c;
        }
    }
    quoted += '"';
    return quoted;
}

} // namespace vesperon
