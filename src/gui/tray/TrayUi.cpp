#include "gui/tray/TrayUi.hpp"

#include <QCoreApplication>
#include <QLineEdit>
#include <QScreen>
#include <QVBoxLayout>

#include "app/AppDelegate.hpp"
#include "app/SettingsMenu.hpp"
#include "gui/AboutContentView.hpp"
#include "gui/SessionPanelView.hpp"
#include "gui/tray/DialogWindows.hpp"
#include "gui/tray/PanelPopup.hpp"
#include "gui/tray/StatusItem.hpp"

namespace vesperon::gui {

TrayUi::TrayUi(Appearance appearance) : appearance_(std::move(appearance)) {}

TrayUi::~TrayUi() = default;

void TrayUi::attach(AppDelegate& app) {
    app_ = &app;
    item_ = std::make_unique<StatusItem>(appearance_, [this](QRect anchor) { toggleAt(anchor); });
    item_->setTitle(title_);
}

void TrayUi::togglePanel() {
    toggleAt(item_ ? item_->geometry() : QRect());
}

void TrayUi::toggleAt(const QRect& anchor) {
    // Made at the first opening: until then the application holds no panel widgets.
    if (!popup_ && app_ != nullptr && app_->panel() != nullptr) {
        view_ = new SessionPanelView(*app_->panel(), appearance_);
        AppDelegate* app = app_;
        view_->setMenuSource([app] { return settingsMenu(*app); });
        popup_ = std::make_unique<PanelPopup>(view_);
    }
    if (!popup_) {
        return;
    }
    if (popup_->isVisible()) {
        closePanel();
        return;
    }
    if (popup_->justClosedFrom(anchor)) {
        return; // this click on the icon is what closed it
    }
    view_->refresh();
    popup_->showAnchored(anchor);
}

void TrayUi::closePanel() {
    if (popup_ && popup_->isVisible()) {
        popup_->hide();
    }
}

void TrayUi::alert(const std::string& title, const std::string& message) {
    closePanel();
    showAlert(title, message);
}

DialogAnswer TrayUi::runDialog(const DialogRequest& request) {
    closePanel();
    return showDialog(request);
}

void TrayUi::setStatusItemTitle(const std::string& title) {
    title_ = title;
    if (item_) {
        item_->setTitle(title);
    }
}

void TrayUi::refreshPanel() {
    // A closed panel is refreshed when it opens; the ticks leave it alone meanwhile.
    if (popup_ && popup_->isVisible()) {
        view_->refresh();
    }
}

void TrayUi::focusCustomHours() {
    if (popup_ && popup_->isVisible()) {
        if (auto* hours = view_->findChild<QLineEdit*>(QStringLiteral("hoursInput"))) {
            hours->setFocus(Qt::OtherFocusReason);
        }
    }
}

void TrayUi::showAbout() {
    if (!about_) {
        about_ = std::make_unique<QWidget>();
        about_->setObjectName(QStringLiteral("aboutWindow"));
        about_->setWindowTitle(QStringLiteral("About Vesperon"));
        auto* layout = new QVBoxLayout(about_.get());
        layout->setContentsMargins(0, 0, 0, 0);
        AppDelegate* app = app_;
        layout->addWidget(new AboutContentView(appearance_, [app](const std::string& url) {
            if (app != nullptr) {
                app->openLink(url);
            }
        }));
        about_->setFixedSize(400, 380);
        if (QScreen* screen = about_->screen()) {
            about_->move(screen->availableGeometry().center() - about_->rect().center());
        }
    }
    closePanel();
    about_->show();
    about_->raise();
    about_->activateWindow();
}

void TrayUi::terminate() {
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
}

} // namespace vesperon::gui
