#include "gui/tray/DesktopWorkspace.hpp"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

namespace vesperon::gui {

void DesktopWorkspace::openURL(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

void DesktopWorkspace::openTerminal(std::function<void(std::optional<std::string> error)> done) {
    // Debian's alternatives name the desktop's terminal x-terminal-emulator; the others
    // are the usual desktops' own.
    for (const char* program : {"x-terminal-emulator", "gnome-terminal", "konsole", "xterm"}) {
        if (QProcess::startDetached(QString::fromLatin1(program), {})) {
            done(std::nullopt);
            return;
        }
    }
    done(std::string("No terminal application was found."));
}

} // namespace vesperon::gui
