#include "DesktopSession.hpp"

namespace vesperon::e2e {

DesktopSession::DesktopSession(bool trayAndBus) {
    // Xvfb takes the lowest free display number, maybe one whose last server is still
    // going away and takes the new one's connection point along: such a one is replaced.
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
    if (!trayAndBus) {
        return;
    }
    tray_ = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{"/usr/bin/trayer", "--edge", "top", "--align", "right",
                                 "--widthtype", "request", "--height", "32", "--expand", "true",
                                 "--transparent", "false"},
        environment());
    if (!waitUntil([&] { return xdotool({"search", "--classname", "trayer"}).status == 0; }, 30)) {
        failure_ = "trayer did not show its tray";
        return;
    }
    bus_ = std::make_unique<BackgroundProcess>(std::vector<std::string>{"/usr/bin/dbus-daemon",
                                                                        "--session", "--nofork",
                                                                        "--print-address=1"},
                                               busAddress_, 30);
    if (busAddress_.empty()) {
        failure_ = "the session bus did not start";
    }
}

std::vector<std::string> DesktopSession::environment() const {
    std::vector<std::string> env{"DISPLAY=" + display_, "QT_QPA_PLATFORM=xcb",
                                 "XDG_RUNTIME_DIR=" + runtime_.path()};
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

} // namespace vesperon::e2e
