#include "common/UntrustedJson.hpp"

#include <algorithm>

#include "common/JsonSyntax.hpp"

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

std::optional<nlohmann::json> parseUntrustedJsonMembers(std::string_view text, std::size_t maxDepth,
                                                        std::span<const std::string_view> keys,
                                                        bool* unnamed) {
    nlohmann::json object = nlohmann::json::object();
    bool complete = true;
    bool others = false;
    const auto keep = [&](std::string_view rawKey, std::string_view rawValue) {
        std::string key(rawKey);
        if (rawKey.find('\\') != std::string_view::npos) {
            // The scan has checked the escapes: the full parser decodes them.
            const auto decoded = nlohmann::json::parse("\"" + key + "\"", nullptr, false);
            if (!decoded.is_string()) {
                complete = false;
                return;
            }
            key = decoded.get<std::string>();
        }
        if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
            others = true;
            return;
        }
        // A string without escapes is its own text; anything else the full parser reads.
        if (rawValue.starts_with('"') && rawValue.find('\\') == std::string_view::npos) {
            object[key] = std::string(rawValue.substr(1, rawValue.size() - 2));
            return;
        }
        nlohmann::json value = nlohmann::json::parse(rawValue, nullptr, false);
        if (value.is_discarded()) {
            complete = false;
            return;
        }
        object[key] = std::move(value);
    };
    if (checkJsonSyntax(text, maxDepth, keep) != JsonShape::Object || !complete) {
        return std::nullopt;
    }
    if (unnamed != nullptr) {
        *unnamed = others;
    }
    return object;
}

} // namespace vesperon
