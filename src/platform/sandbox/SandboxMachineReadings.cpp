// Probe readings of a sandboxed machine: small files under <root>/machine that
// scripts/sandbox writes. A missing or malformed file reads as the neutral answer,
// as a missing service does on a real machine.
#include "platform/CLocaleNumber.hpp"
#include "platform/MachineReadings.hpp"
#include "platform/SuspendCountingClock.hpp"
#include "platform/SystemLayout.hpp"

#include <cerrno>
#include <charconv>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "common/DescriptorIO.hpp"
#include "common/UntrustedJson.hpp"

namespace vesperon::platform {
namespace {

constexpr std::size_t maxReadingBytes = std::size_t{64} * 1024;

std::optional<std::string> readReading(const char* name) {
    const SystemLayout& layout = systemLayout();
    if (!layout.isSandbox()) {
        return std::nullopt;
    }
    const std::string path = layout.machineDir() + "/" + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return std::nullopt;
    }
    auto data = readToEnd(fd, maxReadingBytes);
    ::close(fd);
    return data;
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

} // namespace

std::optional<nlohmann::json> powerSourceDescriptions() {
    const auto text = readReading("power-sources.json");
    if (!text) {
        return std::nullopt;
    }
    auto value = parseUntrustedJson(*text);
    if (!value || !value->is_array()) {
        return std::nullopt;
    }
    return value;
}

std::optional<nlohmann::json> clamshellStateProperty() {
    const auto text = readReading("lid");
    if (!text) {
        return std::nullopt;
    }
    auto value = parseUntrustedJson(*text);
    return value ? *value : nlohmann::json();
}

std::optional<std::string> bootSessionIdentifierBytes() {
    const auto text = readReading("boot-id");
    if (!text) {
        return std::nullopt;
    }
    return trimmed(*text) + '\0';
}

int thermalState() {
    const auto text = readReading("thermal");
    if (!text) {
        return 0;
    }
    const std::string value = trimmed(*text);
    int state = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), state);
    if (error != std::errc() || end != value.data() + value.size() || state < 0 || state > 3) {
        return 0;
    }
    return state;
}

double continuousSeconds() {
    double seconds = suspendCountingSeconds();
    // The sandbox simulates sleep (and the restart of the clock at a reboot) with an offset.
    if (const auto text = readReading("clock-offset")) {
        const std::string value = trimmed(*text);
        char* end = nullptr;
        double offset = 0;
        if (!value.empty() && value.front() != '+' &&
            platform::readCNumber(value.c_str(), &end, &offset) &&
            end == value.c_str() + value.size()) {
            seconds += offset;
        }
    }
    return seconds;
}

} // namespace vesperon::platform
