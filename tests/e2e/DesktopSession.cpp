#include "DesktopSession.hpp"

#include <cstdio>
#include <unistd.h>

#include "FileContents.hpp"

namespace vesperon::e2e {

DesktopSession::DesktopSession(Parts parts) {
    // Xvfb takes the lowest free display number; on a busy machine that may be one a
    // server of another test has only just given up, whose exit can still take the
    // new server's connection point with it. A server that does not answer is
    // replaced by a fresh one before the session goes on.
    for (int attempt = 0; attempt < 3 && display_.empty(); ++attempt) {
        std::string number;
        server_ = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0",
                                     "1280x800x24", "-nolisten", "tcp"},
            number, 30);
        if (number.empty()) {
            continue;
        }
        display_ = ":" + number;
        if (xdotool({"getdisplaygeometry"}).status != 0) {
            display_.clear();
        }
    }
    if (display_.empty()) {
        failure_ = "Xvfb did not start";
        return;
    }
    if (parts.trayHost) {
        tray_ = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{"/usr/bin/trayer", "--edge", "top", "--align", "right",
                                     "--widthtype", "request", "--height", "32", "--expand", "true",
                                     "--transparent", "false"},
            environment());
        const auto shown = [&] { return xdotool({"search", "--classname", "trayer"}).status == 0; };
        if (!waitUntil(shown, 30)) {
            failure_ = "trayer did not show its tray";
            return;
        }
    }
    if (parts.sessionBus || parts.notificationService) {
        bus_ = std::make_unique<BackgroundProcess>(std::vector<std::string>{"/usr/bin/dbus-daemon",
                                                                            "--session", "--nofork",
                                                                            "--print-address=1"},
                                                   busAddress_, 30);
        if (busAddress_.empty()) {
            failure_ = "the session bus did not start";
            return;
        }
    }
    if (parts.notificationService) {
        char path[] = "/tmp/vesperon-notifications-XXXXXX";
        const int fd = ::mkstemp(path);
        if (fd >= 0) {
            ::close(fd);
        }
        logPath_ = path;
        // Debian's python, which has the dbusmock module.
        notifications_ = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--template",
                                     "notification_daemon", "-l", logPath_},
            environment());
        const std::vector<std::string> ask{"/usr/bin/dbus-send",
                                           "--session",
                                           "--print-reply",
                                           "--dest=org.freedesktop.Notifications",
                                           "/org/freedesktop/Notifications",
                                           "org.freedesktop.Notifications.GetServerInformation"};
        if (!waitUntil([&] { return runProcess(ask, environment(), 10).status == 0; }, 30)) {
            failure_ = "the notification service stand-in did not start";
        }
    }
}

DesktopSession::~DesktopSession() {
    notifications_.reset(); // the clients before their servers
    bus_.reset();
    tray_.reset();
    server_.reset();
    if (!logPath_.empty()) {
        ::unlink(logPath_.c_str());
    }
}

std::vector<std::string> DesktopSession::environment() const {
    std::vector<std::string> env{"DISPLAY=" + display_, "QT_QPA_PLATFORM=xcb"};
    if (!busAddress_.empty()) {
        env.push_back("DBUS_SESSION_BUS_ADDRESS=" + busAddress_);
    }
    return env;
}

ProcessOutcome DesktopSession::xdotool(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{"/usr/bin/xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, environment(), 30);
}

std::string DesktopSession::notificationLog() const {
    return logPath_.empty() ? std::string() : testing::readFile(logPath_);
}

} // namespace vesperon::e2e
