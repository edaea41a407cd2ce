// Another X client holding Control+Alt+Super+Space: prints "held" once it has the
// grab (exit 1 when it could not) and keeps it until killed.
#include <QGuiApplication>
#include <cstdio>

#include "gui/tray/X11HotKey.hpp"

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    vesperon::gui::X11HotKey hotKey;
    if (!hotKey.registerShortcut([] {})) {
        std::puts("unavailable");
        return 1;
    }
    std::puts("held");
    std::fflush(stdout);
    return QGuiApplication::exec();
}
