#include "platform/linux/ProcessStat.hpp"

#include <algorithm>
#include <charconv>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>

#include "common/DescriptorIO.hpp"
#include "common/OwnedFd.hpp"

namespace vesperon::platform {
namespace {

constexpr std::size_t maxStatBytes = 4096;

// The next field separated by spaces; empty when there is none.
std::string_view nextField(std::string_view& rest) {
    const std::size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    rest.remove_prefix(start);
    const std::size_t end = std::min(rest.find(' '), rest.size());
    const std::string_view field = rest.substr(0, end);
    rest.remove_prefix(end);
    return field;
}

template <class Number> bool readNumber(std::string_view field, Number& value) {
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    return !field.empty() && error == std::errc() && end == field.data() + field.size();
}

} // namespace

std::optional<double> ProcessStat::startSeconds() const {
    const long perSecond = ::sysconf(_SC_CLK_TCK);
    if (perSecond <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(startTicks) / static_cast<double>(perSecond);
}

std::optional<ProcessStat> readProcessStat(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    OwnedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) {
        return std::nullopt;
    }
    const auto text = readToEnd(fd.get(), maxStatBytes);
    if (!text) {
        return std::nullopt;
    }
    // "pid (comm) state ppid pgrp ... starttime ...": comm may hold anything, spaces
    // and parentheses too, so the fields are counted from its last ')'.
    const std::size_t nameEnd = text->rfind(')');
    if (nameEnd == std::string::npos) {
        return std::nullopt;
    }
    std::string_view rest = std::string_view(*text).substr(nameEnd + 1);
    ProcessStat stat;
    const std::string_view state = nextField(rest);
    if (state.size() != 1 || !readNumber(nextField(rest), stat.parent) ||
        !readNumber(nextField(rest), stat.group)) {
        return std::nullopt;
    }
    stat.state = state.front();
    // Fields 6 to 21 lie between the group and the start time (field 22).
    for (int field = 6; field < 22; ++field) {
        if (nextField(rest).empty()) {
            return std::nullopt;
        }
    }
    if (!readNumber(nextField(rest), stat.startTicks)) {
        return std::nullopt;
    }
    return stat;
}

} // namespace vesperon::platform
