#include "gui/tray/TrayApplication.hpp"

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "app/AdminPrompt.hpp"
#include "app/AppDelegate.hpp"
#include "app/AppWiring.hpp"
#include "app/SystemMachine.hpp"
#include "gui/Appearance.hpp"
#include "gui/tray/DesktopNotifier.hpp"
#include "gui/tray/DesktopWorkspace.hpp"
#include "gui/tray/HandOverServer.hpp"
#include "gui/tray/QtScheduler.hpp"
#include "gui/tray/TrayUi.hpp"
#include "gui/tray/X11HotKey.hpp"

namespace vesperon::gui {
namespace {

int terminationPipe[2] = {-1, -1};

extern "C" void askToTerminate(int) {
    const char byte = 1;
    const ssize_t written = ::write(terminationPipe[1], &byte, 1);
    (void)written;
}

// SIGTERM and SIGINT (logout, `kill`, Control-C) ask the controller like any other
// request to quit: during a session it ends the session first and quits once normal
// sleep is back.
void onTerminationRequest(QObject& context, AppDelegate& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, terminationPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(terminationPipe[0], QSocketNotifier::Read, &context);
    QObject::connect(notifier, &QSocketNotifier::activated, &context, [&app] {
        char byte = 0;
        if (::read(terminationPipe[0], &byte, 1) == 1 &&
            app.applicationShouldTerminate() == AppDelegate::TerminateReply::Now) {
            QCoreApplication::quit();
        }
    });
    struct sigaction action {};
    action.sa_handler = askToTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

} // namespace

int runTrayApplication(int argc, const char* const* argv, int instanceSocket) {
    // Qt reads its own options from the arguments; ours are URLs, so it sees only the
    // program name.
    std::string name = argc > 0 ? argv[0] : "vesperon";
    int qtArgc = 1;
    char* qtArgv[] = {name.data(), nullptr};
    QApplication application(qtArgc, qtArgv);
    QApplication::setApplicationName(QStringLiteral("Vesperon"));
    QApplication::setDesktopFileName(QStringLiteral("vesperon"));
    QApplication::setQuitOnLastWindowClosed(false); // an accessory: no main window
    Appearance::desktop().applyApplicationWide();

    const AppEnvironment environment = currentAppEnvironment();
    QtScheduler scheduler;
    const auto privileged = makeAdminPrompt(scheduler, environment.executablePath);
    DesktopNotifier notifier;
    X11HotKey hotKey;
    DesktopWorkspace workspace;
    SystemMachine machine;
    TrayUi ui(Appearance::desktop());

    AppDelegate app(AppServices{ui, scheduler, *privileged, notifier, hotKey, workspace, machine},
                    environment, defaultAppParts(scheduler, environment));
    app.applicationDidFinishLaunching();
    ui.attach(app);

    HandOverServer handOver(instanceSocket, [&](const std::vector<std::string>& urls) {
        if (urls.empty()) {
            ui.togglePanel(); // started again without a URL: show ourselves
        } else {
            app.openURLs(urls);
        }
    });
    if (argc > 1) {
        std::vector<std::string> urls(argv + 1, argv + argc);
        scheduler.post([&app, urls] { app.openURLs(urls); });
    }
    QObject lifetime;
    onTerminationRequest(lifetime, app);
    return QApplication::exec();
}

} // namespace vesperon::gui
