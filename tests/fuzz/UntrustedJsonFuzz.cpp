#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/UntrustedJson.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto value = vesperon::parseUntrustedJson(text)) {
        (void)value->dump();
    }
    return 0;
}
