#include "app/LoginItem.hpp"
#include "common/AtomicFile.hpp"
#include "common/ErrorDomains.hpp"
#include "common/PlistXml.hpp"
#include "common/SystemError.hpp"

#include <cerrno>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include <plist/plist.h>

namespace vesperon {
namespace {

constexpr const char* label = "local.vesperon.app";

std::string launchAgentPlist(const std::string& executable) {
    std::unique_ptr<void, decltype(&plist_free)> dict(plist_new_dict(), &plist_free);
    plist_dict_set_item(dict.get(), "Label", plist_new_string(label));
    plist_t arguments = plist_new_array();
    plist_array_append_item(arguments, plist_new_string(executable.c_str()));
    plist_dict_set_item(dict.get(), "ProgramArguments", arguments);
    plist_dict_set_item(dict.get(), "RunAtLoad", plist_new_bool(1));
    return plistXml(dict.get()).value_or(std::string());
}

// The Exec key's quoting: one double-quoted argument with ", `, $ and \ escaped and
// % doubled, then the escapes of a desktop-entry string value.
std::string desktopExec(const std::string& executable) {
    std::string quoted = "\"";
    for (const char c : executable) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        } else if (c == '%') {
            quoted += '%';
        }
        quoted += c;
    }
    quoted += '"';
    std::string value;
    for (const char c : quoted) {
        switch (c) {
        case '\\':
            value += "\\\\";
            break;
        case '\n':
            value += "\\n";
            break;
        case '\t':
            value += "\\t";
            break;
        case '\r':
            value += "\\r";
            break;
        default:
            value += c;
        }
    }
    return value;
}

std::string autostartEntry(const std::string& executable) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Vesperon\n"
           "Comment=Keeps the computer awake for a bounded session\n"
           "Exec=" +
           desktopExec(executable) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

Result<void> writeEntry(const std::string& path, const std::string& contents) {
    if (contents.empty()) {
        return fail(errorDomain::encoding,
                    "The login setting could not be written: it could not be encoded.");
    }
    if (auto written = writeFileAtomically(path, contents, FileAttributes{0644, {}, {}});
        !written) {
        return systemError("The login setting could not be written", "", written.error().code);
    }
    return {};
}

} // namespace

LoginItem::LoginItem(std::string homeDirectory, std::string executablePath, Format format)
    : home_(std::move(homeDirectory)), executable_(std::move(executablePath)), format_(format) {}

std::string LoginItem::path() const {
    if (format_ == Format::LaunchAgent) {
        return home_ + "/Library/LaunchAgents/" + label + ".plist";
    }
    return home_ + "/.config/autostart/" + label + ".desktop";
}

bool LoginItem::enabled() const {
    struct stat info {};
    return ::lstat(path().c_str(), &info) == 0;
}

std::string LoginItem::contents() const {
    return format_ == Format::LaunchAgent ? launchAgentPlist(executable_)
                                          : autostartEntry(executable_);
}

Result<void> LoginItem::toggle() {
    const std::string file = path();
    if (enabled()) {
        if (::unlink(file.c_str()) != 0) {
            return systemError("The login setting could not be removed", "", errno);
        }
        return {};
    }
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), error);
    if (error) {
        return systemError("The login setting's folder could not be created", "", error.value());
    }
    return writeEntry(file, contents());
}

} // namespace vesperon
