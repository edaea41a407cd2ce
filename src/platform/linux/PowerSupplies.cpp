#include "platform/linux/PowerSupplies.hpp"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/linux/KernelAttribute.hpp"

namespace vesperon::platform {
namespace {

struct Amount {
    std::int64_t now = 0;
    std::int64_t full = 0;
};

struct Battery {
    std::optional<Amount> energy;
    std::optional<Amount> charge;
    std::optional<std::int64_t> percent;

    // Charge in thousandths of full, from the best reading there is.
    std::optional<std::int64_t> thousandths() const {
        for (const auto& amount : {energy, charge}) {
            if (amount) {
                return std::clamp<std::int64_t>(amount->now * 1000 / amount->full, 0, 1000);
            }
        }
        if (percent) {
            return *percent * 10;
        }
        return std::nullopt;
    }
};

std::optional<Amount> amountOf(const std::string& supply, const char* kind) {
    const auto now = readKernelInteger(supply + "/" + kind + "_now");
    const auto full = readKernelInteger(supply + "/" + kind + "_full");
    if (!now || !full || *now < 0 || *full <= 0) {
        return std::nullopt;
    }
    return Amount{*now, *full};
}

bool isCharger(const std::string& type) {
    return type == "Mains" || type.starts_with("USB");
}

// The sum of one reading over the batteries; nothing when one of them lacks it.
std::optional<Amount> sumOf(const std::vector<Battery>& batteries,
                            std::optional<Amount> Battery::*reading) {
    Amount total;
    for (const Battery& battery : batteries) {
        const std::optional<Amount>& amount = battery.*reading;
        if (!amount) {
            return std::nullopt;
        }
        total.now += amount->now;
        total.full += amount->full;
    }
    return total;
}

std::optional<Amount> combined(const std::vector<Battery>& batteries) {
    if (batteries.empty()) {
        return std::nullopt;
    }
    if (auto energy = sumOf(batteries, &Battery::energy)) {
        return energy;
    }
    if (auto charge = sumOf(batteries, &Battery::charge)) {
        return charge;
    }
    // Only batteries with a charge fraction are read, so each has one here.
    Amount total;
    for (const Battery& battery : batteries) {
        const std::optional<std::int64_t> share = battery.thousandths();
        if (!share) {
            return std::nullopt;
        }
        total.now += *share;
        total.full += 1000;
    }
    return total;
}

} // namespace

nlohmann::json powerSourcesIn(const std::string& powerSupplyDir) {
    std::vector<Battery> readable;
    bool anyBattery = false;
    bool chargerOnline = false;

    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(powerSupplyDir, error)) {
        const std::string supply = entry.path().string();
        if (readKernelAttribute(supply + "/scope") == "Device") {
            continue;
        }
        const std::string type = readKernelAttribute(supply + "/type").value_or("");
        if (isCharger(type)) {
            chargerOnline = chargerOnline || readKernelInteger(supply + "/online").value_or(0) > 0;
            continue;
        }
        if (type != "Battery" || readKernelInteger(supply + "/present") == 0) {
            continue;
        }
        anyBattery = true;
        Battery battery{amountOf(supply, "energy"), amountOf(supply, "charge"),
                        readKernelInteger(supply + "/capacity")};
        if (battery.percent && (*battery.percent < 0 || *battery.percent > 100)) {
            battery.percent.reset();
        }
        if (battery.thousandths()) {
            readable.push_back(battery);
        }
    }

    nlohmann::json sources = nlohmann::json::array();
    if (!anyBattery) {
        return sources;
    }
    nlohmann::json battery = {{"Type", "InternalBattery"},
                              {"Power Source State", chargerOnline ? "AC Power" : "Battery Power"}};
    if (const auto total = combined(readable)) {
        battery["Current Capacity"] = total->now;
        battery["Max Capacity"] = total->full;
    }
    sources.push_back(std::move(battery));
    return sources;
}

} // namespace vesperon::platform
