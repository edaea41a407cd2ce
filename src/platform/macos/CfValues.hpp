#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include <nlohmann/json.hpp>

#include "platform/macos/CfRef.hpp"

// Conversions between Core Foundation values and ours. Nothing here interprets a
// value: the probes and the preferences store decide what one means.
namespace vesperon::platform {

// The value as JSON: strings, numbers, booleans, and arrays and dictionaries (with
// string keys) of them, nested at most a few levels; null for anything else.
nlohmann::json jsonFromCf(CFTypeRef value);

// The text of a CFString as UTF-8; nothing for another type or text that will not convert.
std::optional<std::string> stringFromCf(CFTypeRef value);

// The value of a CFNumber: a double when it holds a floating-point number, else a
// 64-bit integer; nothing for another type (a CFBoolean included).
std::optional<std::variant<std::int64_t, double>> numberFromCf(CFTypeRef value);

// A new CFString holding `text` (UTF-8); empty when the bytes are not UTF-8.
CfRef<CFStringRef> cfString(std::string_view text);

} // namespace vesperon::platform
