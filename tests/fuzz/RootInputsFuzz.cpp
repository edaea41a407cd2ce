// What the root side reads from outside (record, power tool output, setup arguments) never
// crashes it; a record that decodes is written and read back to the very same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/Utf8Text.hpp"
#include "platform/SystemProbes.hpp"
#include "privileged/SessionRecord.hpp"
#include "privileged/SetupRequest.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)vesperon::parseSleepDisabled(text);
    (void)vesperon::parseDecimalInt32(text);
    (void)vesperon::parseWholeNumber(text);
    (void)vesperon::isValidUtf8(text);
    if (const auto session = vesperon::decodeSession(text)) {
        const auto encoded = vesperon::encodeSession(*session);
        const auto again = encoded ? vesperon::decodeSession(*encoded) : std::nullopt;
        if (!again || again->pid != session->pid || again->heartbeat != session->heartbeat ||
            vesperon::encodeSession(*again).value_or("") != *encoded) {
            std::abort();
        }
    }
    return 0;
}
