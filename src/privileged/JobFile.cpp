#include "privileged/JobFile.hpp"

#include <cstdint>
#include <string>
#include <string_view>

#include "common/AtomicFile.hpp"
#include "common/ErrorDomains.hpp"

namespace vesperon {
namespace {

constexpr std::uint64_t throttleIntervalSeconds = 5;

// The root roles write this one small property list, so the executable carries its
// own writer instead of loading a property-list library on every start (the hook
// endpoint runs the same executable). Laid out as the usual XML property list: a tab
// per level, and only "&", "<" and ">" escaped.
constexpr std::string_view header = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                    "<plist version=\"1.0\">\n";

// Appends `text` as XML character data; false when it holds a control character that
// XML cannot carry (the job would not load).
bool appendEscaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '\t':
        case '\n':
            out += c;
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            out += c;
        }
    }
    return true;
}

bool appendElement(std::string& out, std::string_view indent, std::string_view tag,
                   std::string_view text) {
    out.append(indent).append("<").append(tag).append(">");
    const bool ok = appendEscaped(out, text);
    out.append("</").append(tag).append(">\n");
    return ok;
}

} // namespace

Result<std::string> jobFileXml(const SystemLayout& layout) {
    std::string xml(header);
    xml += "<dict>\n";
    bool ok = appendElement(xml, "\t", "key", "Label");
    ok = appendElement(xml, "\t", "string", layout.jobName) && ok;
    ok = appendElement(xml, "\t", "key", "ProgramArguments") && ok;
    xml += "\t<array>\n";
    ok = appendElement(xml, "\t\t", "string", layout.watcherPath()) && ok;
    ok = appendElement(xml, "\t\t", "string", "--watch") && ok;
    xml += "\t</array>\n";
    ok = appendElement(xml, "\t", "key", "RunAtLoad") && ok;
    xml += "\t<true/>\n";
    ok = appendElement(xml, "\t", "key", "KeepAlive") && ok;
    xml += "\t<true/>\n";
    ok = appendElement(xml, "\t", "key", "ThrottleInterval") && ok;
    ok = appendElement(xml, "\t", "integer", std::to_string(throttleIntervalSeconds)) && ok;
    xml += "</dict>\n</plist>\n";
    if (!ok) {
        return fail(errorDomain::encoding, "The recovery job could not be encoded.");
    }
    return xml;
}

Result<void> writeJobFile(const SystemLayout& layout) {
    auto xml = jobFileXml(layout);
    if (!xml) {
        return std::unexpected(xml.error());
    }
    return writeFileAtomically(layout.jobPath, *xml, FileAttributes{0644, 0, 0});
}

} // namespace vesperon
