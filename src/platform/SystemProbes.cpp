#include "platform/SystemProbes.hpp"

#include <cstdint>
#include <limits>
#include <vector>

#include "common/Utf8Text.hpp"
#include "platform/MachineReadings.hpp"
#include "platform/SleepOverride.hpp"
#include "platform/SystemLayout.hpp"

namespace vesperon {
namespace {

// Line feed, vertical tab, form feed, carriage return, next line, and the Unicode
// line and paragraph separators.
bool isLineBreak(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// Tab and the Unicode space separators.
bool isBlank(char32_t c) {
    return c == 0x09 || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

std::vector<std::string_view> fieldsOf(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t index = 0;
    std::size_t fieldStart = 0;
    while (index < line.size()) {
        const std::size_t here = index;
        if (isBlank(nextCodePoint(line, index))) {
            if (here > fieldStart) {
                fields.push_back(line.substr(fieldStart, here - fieldStart));
            }
            fieldStart = index;
        }
    }
    if (line.size() > fieldStart) {
        fields.push_back(line.substr(fieldStart));
    }
    return fields;
}

std::optional<bool> sleepDisabledInLine(std::string_view line) {
    const auto fields = fieldsOf(line);
    if (fields.size() >= 2 && fields[0] == "SleepDisabled") {
        return fields[1] == "1";
    }
    return std::nullopt;
}

std::optional<std::int64_t> integerValue(const nlohmann::json& value) {
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_unsigned()) {
        const auto unsignedValue = value.get<std::uint64_t>();
        if (unsignedValue <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return static_cast<std::int64_t>(unsignedValue);
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<bool> parseSleepDisabled(std::string_view output) {
    std::size_t index = 0;
    std::size_t lineStart = 0;
    while (index < output.size()) {
        const std::size_t here = index;
        if (isLineBreak(nextCodePoint(output, index))) {
            if (auto value = sleepDisabledInLine(output.substr(lineStart, here - lineStart))) {
                return value;
            }
            lineStart = index;
        }
    }
    return sleepDisabledInLine(output.substr(lineStart));
}

std::optional<bool> sleepDisabled() {
    return readSleepOverride();
}

bool batterySafeFrom(const std::optional<nlohmann::json>& descriptions) {
    if (!descriptions || !descriptions->is_array()) {
        return false;
    }
    const nlohmann::json* battery = nullptr;
    for (const nlohmann::json& source : *descriptions) {
        if (!source.is_object()) {
            continue;
        }
        const auto type = source.find("Type");
        if (type != source.end() && type->is_string() && *type == "InternalBattery") {
            battery = &source;
            break;
        }
    }
    if (battery == nullptr) {
        return false;
    }
    const auto state = battery->find("Power Source State");
    if (state != battery->end() && state->is_string() && *state == "AC Power") {
        return true;
    }
    const auto current = battery->find("Current Capacity");
    const auto maximum = battery->find("Max Capacity");
    if (current == battery->end() || maximum == battery->end()) {
        return false;
    }
    const auto currentValue = integerValue(*current);
    const auto maximumValue = integerValue(*maximum);
    if (!currentValue || !maximumValue || *maximumValue <= 0) {
        return false;
    }
    return static_cast<double>(*currentValue) / static_cast<double>(*maximumValue) > 0.15;
}

bool batterySafe() {
    return batterySafeFrom(platform::powerSourceDescriptions());
}

bool lidClosedFrom(const std::optional<nlohmann::json>& clamshellState) {
    return clamshellState && clamshellState->is_boolean() && clamshellState->get<bool>();
}

bool lidClosed() {
    return lidClosedFrom(platform::clamshellStateProperty());
}

std::optional<std::string> bootIDFromBytes(const std::optional<std::string>& bytes) {
    if (!bytes || bytes->size() < 2) {
        return std::nullopt;
    }
    std::string text = bytes->substr(0, bytes->find('\0'));
    // An identifier that is empty up to its first NUL is as unreadable as a missing one.
    if (text.empty()) {
        return std::nullopt;
    }
    return text;
}

std::optional<std::string> currentBootID() {
    return bootIDFromBytes(platform::bootSessionIdentifierBytes());
}

int thermalState() {
    return platform::thermalState();
}

} // namespace vesperon
