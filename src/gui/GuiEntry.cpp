// The display module's entry point: the only symbol the module exports.
#include "gui/GuiEntry.hpp"

#include <QApplication>
#include <cstdio>
#include <exception>

#include "gui/Appearance.hpp"
#include "gui/ImageRenderers.hpp"
#include "gui/tray/TrayApplication.hpp"

namespace vesperon::gui {
namespace {

// A renderer says nothing on success: Qt's notes about the environment (no runtime
// folder, no session bus) are dropped; its critical messages still reach standard error.
void quietNotes(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        std::fprintf(stderr, "vesperon: %s\n", message.toLocal8Bit().constData());
    }
}

// The renderers draw into images and never show a window: Qt's offscreen platform
// serves them on any machine, with or without a display, and with the same result.
int renderImage(const VesperonGuiRequest& request) {
    qInstallMessageHandler(quietNotes);
    int qtArgc = 3;
    char name[] = "vesperon";
    char platformOption[] = "-platform";
    char platform[] = "offscreen";
    char* qtArgv[] = {name, platformOption, platform, nullptr};
    QApplication application(qtArgc, qtArgv);
    Appearance::images().applyApplicationWide();
    return request.role == VESPERON_GUI_RENDER_PANEL ? renderPanel(request.argc, request.argv)
                                                     : renderAbout(request.argc, request.argv);
}

int run(const VesperonGuiRequest& request) {
    switch (request.role) {
    case VESPERON_GUI_RENDER_PANEL:
    case VESPERON_GUI_RENDER_ABOUT:
        return renderImage(request);
    case VESPERON_GUI_APPLICATION:
        return runTrayApplication(request.argc, request.argv, request.instanceSocket);
    default:
        std::fputs("vesperon: the display module has no such role.\n", stderr);
        return 1;
    }
}

} // namespace
} // namespace vesperon::gui

extern "C" __attribute__((visibility("default"))) int
vesperon_gui_main(const VesperonGuiRequest* request) {
    if (request == nullptr || request->abiVersion != VESPERON_GUI_ABI_VERSION) {
        std::fputs("vesperon: the display module does not match this executable\n", stderr);
        return 1;
    }
    try {
        return vesperon::gui::run(*request);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vesperon: %s\n", error.what());
    } catch (...) {
        std::fputs("vesperon: unexpected failure in the display module\n", stderr);
    }
    return 1;
}
