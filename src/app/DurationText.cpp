#include "app/DurationText.hpp"

#include <algorithm>
#include <cmath>

namespace vesperon {
namespace {

std::string minutesText(long long minutes) {
    if (minutes < 60) {
        return std::to_string(minutes) + "m";
    }
    std::string text = std::to_string(minutes / 60) + "h";
    if (minutes % 60 != 0) {
        text += " " + std::to_string(minutes % 60) + "m";
    }
    return text;
}

// Whole minutes, rounded up, of `seconds` rounded up to whole seconds and clamped at 0.
long long roundedUpMinutes(double seconds) {
    if (!(seconds > 0)) { // also NaN
        return 0;
    }
    const double whole = std::ceil(std::min(seconds, 1e12));
    return static_cast<long long>(std::ceil(whole / 60.0));
}

} // namespace

std::string clockText(double seconds) {
    return minutesText(roundedUpMinutes(seconds));
}

std::string quickDurationTitle(int seconds) {
    const int minutes = seconds / 60;
    if (minutes < 60) {
        return std::to_string(minutes) + "m";
    }
    return std::to_string(minutes / 60) + "h";
}

std::string statusItemTitle(double remainingSeconds) {
    double minutes = std::ceil(std::min(remainingSeconds, 1e12) / 60.0);
    if (!(minutes >= 1)) { // also NaN
        minutes = 1;
    }
    return " " + minutesText(static_cast<long long>(minutes));
}

} // namespace vesperon
