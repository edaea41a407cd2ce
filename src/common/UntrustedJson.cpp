#include "common/UntrustedJson.hpp"

#include <algorithm>

namespace vesperon {

std::size_t jsonNestingDepth(std::string_view text) {
    std::size_t depth = 0;
    std::size_t deepest = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            deepest = std::max(deepest, ++depth);
            break;
        case ']':
        case '}':
            if (depth > 0) {
                --depth;
            }
            break;
        default:
            break;
        }
    }
    return deepest;
}

std::optional<nlohmann::json> parseUntrustedJson(std::string_view text, std::size_t maxDepth) {
    // The depth is checked before parsing so that no deep structure is ever built.
    if (jsonNestingDepth(text) > maxDepth) {
        return std::nullopt;
    }
    nlohmann::json value = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) {
        return std::nullopt;
    }
    return value;
}

} // namespace vesperon
