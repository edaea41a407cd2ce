#include "gui/tray/TrayApplication.hpp"

#include <QApplication>
#include <QFileOpenEvent>
#include <QSocketNotifier>
#include <csignal>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "app/AppDelegate.hpp"
#include "app/AppWiring.hpp"
#include "app/LiveMachineView.hpp"
#include "common/CloseOnExec.hpp"
#include "gui/Appearance.hpp"
#include "gui/tray/DesktopWorkspace.hpp"
#include "gui/tray/HandOverServer.hpp"
#include "gui/tray/QtScheduler.hpp"
#include "gui/tray/TrayUi.hpp"
#include "platform/AdminPrompt.hpp"
#include "platform/DesktopServices.hpp"

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
    if (socketPairCloseOnExec(AF_UNIX, SOCK_STREAM, 0, terminationPipe) != 0) {
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

// A Mac hands the URLs of our scheme to the running application as open events (a
// clicked link, `open vesperon://…`), not as arguments; elsewhere none arrive.
class UrlOpenEvents final : public QObject {
  public:
    explicit UrlOpenEvents(AppDelegate& app) : app_(app) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FileOpen) {
            const QUrl url = static_cast<QFileOpenEvent*>(event)->url();
            if (url.scheme() == QLatin1String("vesperon")) {
                app_.openURLs({url.toEncoded().toStdString()});
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    AppDelegate& app_;
};

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
    const auto notifier = platform::makeNotifier();
    const auto hotKey = platform::makeHotKey();
    DesktopWorkspace workspace;
    LiveMachineView machine;
    TrayUi ui(Appearance::desktop());

    AppDelegate app(AppServices{ui, scheduler, *privileged, *notifier, *hotKey, workspace, machine},
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
    UrlOpenEvents urlOpens(app);
    application.installEventFilter(&urlOpens);
    QObject lifetime;
    onTerminationRequest(lifetime, app);
    return QApplication::exec();
}

} // namespace vesperon::gui
