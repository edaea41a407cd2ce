#include "gui/tray/DesktopWorkspace.hpp"

#include <QDesktopServices>
#include <QProcess>
#include <QStringList>
#include <QUrl>

#include "platform/TerminalLaunchers.hpp"

namespace vesperon::gui {

bool DesktopWorkspace::openURL(const std::string& url) {
    // False when no handler (xdg-open, the desktop's browser) can be started.
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

void DesktopWorkspace::openTerminal(std::function<void(std::optional<std::string> error)> done) {
    const auto text = [](std::string_view word) {
        return QString::fromUtf8(word.data(), static_cast<qsizetype>(word.size()));
    };
    for (const platform::TerminalLauncher& launcher : platform::terminalLaunchers) {
        QStringList arguments;
        for (const std::string_view argument : launcher.arguments) {
            if (!argument.empty()) {
                arguments << text(argument);
            }
        }
        if (QProcess::startDetached(text(launcher.program), arguments)) {
            done(std::nullopt);
            return;
        }
    }
    done(std::string("No terminal application was found."));
}

} // namespace vesperon::gui
