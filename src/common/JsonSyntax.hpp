#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

namespace vesperon {

// What one pass over a JSON text found.
enum class JsonShape {
    Invalid, // not exactly one well-formed JSON value, or nested too deeply
    Object,  // a well-formed object
    Other,   // a well-formed array, string, number or literal
};

// Checks, without building anything, that `text` is exactly one JSON value
// (RFC 8259: strict grammar, well-formed UTF-8 in strings, paired surrogate escapes,
// numbers within the range of a double; a leading byte-order mark is skipped) whose
// arrays and objects nest at most `maxDepth` deep. When the value is an object, each
// of its own members is passed to `member` as it is met: the key's text between its
// quotes (escapes not decoded) and the value's text. It accepts exactly what the full
// parser accepts, a NUL byte after the value excepted (refused here).
JsonShape checkJsonSyntax(
    std::string_view text, std::size_t maxDepth,
    const std::function<void(std::string_view key, std::string_view value)>& member = {});

} // namespace vesperon
