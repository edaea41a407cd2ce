#include "privileged/JobFile.hpp"

#include <plist/plist.h>

#include "privileged/AtomicFile.hpp"

namespace vesperon {
namespace {

constexpr std::uint64_t throttleIntervalSeconds = 5;

// Owns one property-list tree.
struct PlistNode {
    plist_t node;
    ~PlistNode() { plist_free(node); }
};

} // namespace

Result<std::string> jobFileXml(const SystemLayout& layout) {
    PlistNode job{plist_new_dict()};
    plist_dict_set_item(job.node, "Label", plist_new_string(layout.jobName.c_str()));
    plist_t arguments = plist_new_array();
    plist_array_append_item(arguments, plist_new_string(layout.watcherPath().c_str()));
    plist_array_append_item(arguments, plist_new_string("--watch"));
    plist_dict_set_item(job.node, "ProgramArguments", arguments);
    plist_dict_set_item(job.node, "RunAtLoad", plist_new_bool(1));
    plist_dict_set_item(job.node, "KeepAlive", plist_new_bool(1));
    plist_dict_set_item(job.node, "ThrottleInterval", plist_new_uint(throttleIntervalSeconds));

    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(job.node, &xml, &length);
    if (xml == nullptr || length == 0) {
        plist_to_xml_free(xml);
        return fail("NSCocoaErrorDomain", "The recovery job could not be encoded.");
    }
    std::string text(xml, length);
    plist_to_xml_free(xml);
    return text;
}

Result<void> writeJobFile(const SystemLayout& layout) {
    auto xml = jobFileXml(layout);
    if (!xml) {
        return std::unexpected(xml.error());
    }
    return writeFileAtomically(layout.jobPath, *xml, FileAttributes{0644, 0, 0});
}

} // namespace vesperon
