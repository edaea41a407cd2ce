#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vesperon {

// A property list node as XML text; nothing when libplist could not encode it.
// libplist 2.3 frees every text it returns with plist_mem_free and 2.6 dropped the
// per-format free functions that 2.2 (Debian 12) still has; the build says which one
// the library has (VESPERON_PLIST_MEM_FREE).
inline std::optional<std::string> plistXml(plist_t node) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
#ifdef VESPERON_PLIST_MEM_FREE
    const std::unique_ptr<char, void (*)(void*)> text(xml, plist_mem_free);
#else
    const std::unique_ptr<char, void (*)(char*)> text(xml, plist_to_xml_free);
#endif
    if (!text) {
        return std::nullopt;
    }
    return std::string(text.get(), length);
}

} // namespace vesperon
