#include "privileged/SetupRequest.hpp"

#include <cctype>
#include <charconv>
#include <cmath>

#include "platform/CLocaleNumber.hpp"
#include "privileged/SessionRecord.hpp"

namespace vesperon {

std::optional<std::int32_t> parseDecimalInt32(std::string_view text) {
    if (text.empty() || text.front() == '+') {
        return std::nullopt;
    }
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parseWholeNumber(std::string_view text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) {
        return std::nullopt;
    }
    const std::string copy(text); // strtod needs a terminated string
    char* end = nullptr;
    double value = 0;
    if (!platform::readCNumber(copy.c_str(), &end, &value) || end != copy.c_str() + copy.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<SetupRequest> SetupRequest::parse(const std::vector<std::string>& args) {
    if (args.size() != 6) {
        return std::nullopt;
    }
    const auto pid = parseDecimalInt32(args[2]);
    if (!pid || *pid < 2) {
        return std::nullopt;
    }
    // NaN fails both comparisons and infinity the upper bound.
    const auto seconds = parseWholeNumber(args[3]);
    if (!seconds || !(*seconds >= SessionTiming::shortestDuration) ||
        !(*seconds <= SessionTiming::longestDuration)) {
        return std::nullopt;
    }
    if (!args[4].starts_with('/') || !args[5].starts_with('/')) {
        return std::nullopt;
    }
    return SetupRequest{*pid, *seconds, args[4], args[5]};
}

} // namespace vesperon
