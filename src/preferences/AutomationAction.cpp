#include "preferences/AutomationAction.hpp"

#include <string_view>

namespace vesperon {

namespace {

constexpr std::string_view prefix = "vesperon://";
constexpr std::string_view minutesItem = "minutes=";
constexpr std::int32_t maxMinutes = 1440;

bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

// Characters a URI may hold (RFC 3986: unreserved, reserved and '%'). Anything else
// (blanks, controls, quotes, braces, non-ASCII bytes) makes the text no URL at all.
bool isUriCharacter(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isAsciiDigit(c)) {
        return true;
    }
    return std::string_view("-._~:/?#[]@!$&'()*+,;=%").find(c) != std::string_view::npos;
}

// The value of "minutes=N" when N is 1 to 1440 written in ASCII digits only.
std::optional<std::int32_t> minutesValue(std::string_view query) {
    if (!query.starts_with(minutesItem)) {
        return std::nullopt;
    }
    std::string_view digits = query.substr(minutesItem.size());
    if (digits.empty()) {
        return std::nullopt;
    }
    for (char c : digits) {
        if (!isAsciiDigit(c)) {
            return std::nullopt;
        }
    }
    // Leading zeros are allowed; what remains must fit the range.
    while (digits.size() > 1 && digits.front() == '0') {
        digits.remove_prefix(1);
    }
    if (digits.size() > 4) {
        return std::nullopt;
    }
    std::int32_t minutes = 0;
    for (char c : digits) {
        minutes = minutes * 10 + (c - '0');
    }
    if (minutes < 1 || minutes > maxMinutes) {
        return std::nullopt;
    }
    return minutes;
}

} // namespace

std::optional<AutomationAction> AutomationAction::parse(std::string_view url) {
    if (url.size() > maxUrlLength) {
        return std::nullopt;
    }
    for (char c : url) {
        if (!isUriCharacter(c)) {
            return std::nullopt;
        }
    }
    // Scheme "vesperon" (exact case) followed by an authority: "vesperon:stop" has a
    // path instead of a host and is refused.
    if (!url.starts_with(prefix)) {
        return std::nullopt;
    }
    std::string_view rest = url.substr(prefix.size());
    // A fragment, even an empty one, refuses.
    if (rest.find('#') != std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t queryMark = rest.find('?');
    const std::string_view authorityAndPath = rest.substr(0, queryMark);
    // A path, even a lone "/", refuses; so do user, password and port (any '@' or ':'),
    // and percent-escapes, which would only hide the exact host.
    if (authorityAndPath.find_first_of("/@:%[]") != std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view host = authorityAndPath;
    if (host == "stop") {
        // No query at all: a trailing "?" alone refuses.
        if (queryMark == std::string_view::npos) {
            return stop();
        }
        return std::nullopt;
    }
    if (host != "start" || queryMark == std::string_view::npos) {
        return std::nullopt;
    }
    // Exactly one query item "minutes=N". Escapes and further items ('&', ';' or an
    // empty item) refuse instead of being decoded or dropped.
    const std::string_view query = rest.substr(queryMark + 1);
    if (query.find_first_of("%&;") != std::string_view::npos) {
        return std::nullopt;
    }
    if (const auto minutes = minutesValue(query)) {
        return start(*minutes * 60);
    }
    return std::nullopt;
}

} // namespace vesperon
