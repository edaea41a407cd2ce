#include "platform/macos/CfValues.hpp"

#include <cstdint>
#include <vector>

namespace vesperon::platform {
namespace {

// Power-source descriptions are two levels deep; anything deeper is not read.
constexpr int maxDepth = 8;

nlohmann::json convert(CFTypeRef value, int depth) {
    if (value == nullptr || depth > maxDepth) {
        return nullptr;
    }
    const CFTypeID type = CFGetTypeID(value);
    // CFBoolean is its own type, distinct from CFNumber: test it first all the same.
    if (type == CFBooleanGetTypeID()) {
        return CFBooleanGetValue(static_cast<CFBooleanRef>(value)) != 0;
    }
    if (const auto number = numberFromCf(value)) {
        return std::visit([](auto held) { return nlohmann::json(held); }, *number);
    }
    if (type == CFStringGetTypeID()) {
        const auto text = stringFromCf(value);
        return text ? nlohmann::json(*text) : nlohmann::json();
    }
    if (type == CFArrayGetTypeID()) {
        const auto array = static_cast<CFArrayRef>(value);
        nlohmann::json items = nlohmann::json::array();
        const CFIndex count = CFArrayGetCount(array);
        for (CFIndex i = 0; i < count; ++i) {
            items.push_back(convert(CFArrayGetValueAtIndex(array, i), depth + 1)); // Get rule
        }
        return items;
    }
    if (type == CFDictionaryGetTypeID()) {
        const auto dictionary = static_cast<CFDictionaryRef>(value);
        const CFIndex count = CFDictionaryGetCount(dictionary);
        std::vector<const void*> keys(static_cast<std::size_t>(count));
        std::vector<const void*> values(static_cast<std::size_t>(count));
        CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data()); // Get rule
        nlohmann::json object = nlohmann::json::object();
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (const auto key = stringFromCf(keys[i])) {
                object[*key] = convert(values[i], depth + 1);
            }
        }
        return object;
    }
    return nullptr;
}

} // namespace

std::optional<std::variant<std::int64_t, double>> numberFromCf(CFTypeRef value) {
    if (value == nullptr || CFGetTypeID(value) != CFNumberGetTypeID()) {
        return std::nullopt;
    }
    const auto number = static_cast<CFNumberRef>(value);
    if (CFNumberIsFloatType(number) != 0) {
        double real = 0;
        (void)CFNumberGetValue(number, kCFNumberDoubleType, &real);
        return real;
    }
    std::int64_t integer = 0;
    (void)CFNumberGetValue(number, kCFNumberSInt64Type, &integer);
    return integer;
}

nlohmann::json jsonFromCf(CFTypeRef value) {
    return convert(value, 0);
}

std::optional<std::string> stringFromCf(CFTypeRef value) {
    if (value == nullptr || CFGetTypeID(value) != CFStringGetTypeID()) {
        return std::nullopt;
    }
    const auto text = static_cast<CFStringRef>(value);
    const CFRange whole = CFRangeMake(0, CFStringGetLength(text));
    // The byte count first, then the bytes: the text may hold NUL characters.
    CFIndex bytes = 0;
    if (CFStringGetBytes(text, whole, kCFStringEncodingUTF8, 0, false, nullptr, 0, &bytes) !=
        whole.length) {
        return std::nullopt;
    }
    std::string converted(static_cast<std::size_t>(bytes), '\0');
    (void)CFStringGetBytes(text, whole, kCFStringEncodingUTF8, 0, false,
                           reinterpret_cast<UInt8*>(converted.data()), bytes, nullptr);
    return converted;
}

CfRef<CFStringRef> cfString(std::string_view text) {
    return CfRef<CFStringRef>(
        CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                                static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
}

} // namespace vesperon::platform
