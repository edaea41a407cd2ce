#include "platform/macos/MacUserDefaults.hpp"

#include <cmath>

#include "common/ErrorDomains.hpp"
#include "common/ProductInfo.hpp"
#include "platform/UserDefaults.hpp"
#include "platform/macos/CfRef.hpp"
#include "platform/macos/CfValues.hpp"

namespace vesperon {

using platform::CfRef;
using platform::cfString;

namespace {

Error unreadable(const std::string& reason) {
    return Error::make(errorDomain::preferences,
                       "The user defaults could not be read (" + reason + ").");
}

Error unwritable(const std::string& reason) {
    return Error::make(errorDomain::preferences,
                       "The user defaults could not be written (" + reason + ").");
}

PreferenceValue fromCf(CFPropertyListRef value) {
    const CFTypeID type = CFGetTypeID(value);
    if (type == CFDataGetTypeID()) {
        const auto data = static_cast<CFDataRef>(value);
        const auto* bytes = reinterpret_cast<const char*>(CFDataGetBytePtr(data));
        return PreferenceData{std::string(bytes != nullptr ? bytes : "",
                                          bytes != nullptr ? CFDataGetLength(data) : 0)};
    }
    if (type == CFBooleanGetTypeID()) {
        return CFBooleanGetValue(static_cast<CFBooleanRef>(value)) != 0;
    }
    if (const auto number = platform::numberFromCf(value)) {
        return std::visit([](auto held) { return PreferenceValue(held); }, *number);
    }
    if (type == CFStringGetTypeID()) {
        const auto text = platform::stringFromCf(value);
        return text ? PreferenceValue(*text) : PreferenceValue(UnusablePreference{"other"});
    }
    if (type == CFDateGetTypeID()) {
        return UnusablePreference{"date"};
    }
    if (type == CFArrayGetTypeID()) {
        return UnusablePreference{"array"};
    }
    if (type == CFDictionaryGetTypeID()) {
        return UnusablePreference{"dictionary"};
    }
    return UnusablePreference{"other"};
}

// A new property-list value for `value` (Create rule), or why it cannot be stored.
Result<CfRef<CFPropertyListRef>> toCf(const PreferenceValue& value) {
    if (const auto* data = std::get_if<PreferenceData>(&value)) {
        return CfRef<CFPropertyListRef>(
            CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(data->bytes.data()),
                         static_cast<CFIndex>(data->bytes.size())));
    }
    if (const auto* integer = std::get_if<std::int64_t>(&value)) {
        return CfRef<CFPropertyListRef>(
            CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, integer));
    }
    if (const auto* real = std::get_if<double>(&value)) {
        if (!std::isfinite(*real)) {
            return std::unexpected(unwritable("the number is not finite"));
        }
        return CfRef<CFPropertyListRef>(
            CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, real));
    }
    if (const auto* flag = std::get_if<bool>(&value)) {
        // The boolean constants are not owned: retain one so the wrapper may release it.
        return CfRef<CFPropertyListRef>(CFRetain(*flag ? kCFBooleanTrue : kCFBooleanFalse));
    }
    if (const auto* text = std::get_if<std::string>(&value)) {
        CfRef<CFStringRef> string = cfString(*text);
        if (!string) {
            return std::unexpected(unwritable("the text is not valid UTF-8"));
        }
        return CfRef<CFPropertyListRef>(CFRetain(string.get()));
    }
    return std::unexpected(unwritable("values of this type are not stored"));
}

} // namespace

MacUserDefaults::MacUserDefaults(std::string applicationId)
    : applicationId_(std::move(applicationId)) {}

Result<std::optional<PreferenceValue>> MacUserDefaults::value(std::string_view key) const {
    const CfRef<CFStringRef> application = cfString(applicationId_);
    const CfRef<CFStringRef> name = cfString(key);
    if (!application || !name) {
        return std::unexpected(unreadable("the key is not valid UTF-8 text"));
    }
    // Picks up what another process wrote since this one last looked.
    (void)CFPreferencesAppSynchronize(application.get());
    const CfRef<CFPropertyListRef> stored(CFPreferencesCopyAppValue(name.get(), application.get()));
    if (!stored) {
        return std::optional<PreferenceValue>();
    }
    return std::optional<PreferenceValue>(fromCf(stored.get()));
}

Result<void> MacUserDefaults::setValue(std::string_view key, const PreferenceValue& value) {
    const CfRef<CFStringRef> application = cfString(applicationId_);
    const CfRef<CFStringRef> name = cfString(key);
    if (!application || !name) {
        return std::unexpected(unwritable("the key is not valid UTF-8 text"));
    }
    auto converted = toCf(value);
    if (!converted) {
        return std::unexpected(converted.error());
    }
    CFPreferencesSetAppValue(name.get(), converted->get(), application.get());
    if (CFPreferencesAppSynchronize(application.get()) == 0) {
        return std::unexpected(unwritable("the preferences daemon did not save them"));
    }
    return {};
}

} // namespace vesperon

namespace vesperon::platform {

std::unique_ptr<KeyValueStore> makeUserDefaults(const std::string&) {
    return std::make_unique<MacUserDefaults>(product::bundleIdentifier);
}

} // namespace vesperon::platform
