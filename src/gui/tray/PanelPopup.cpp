#include "gui/tray/PanelPopup.hpp"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

namespace vesperon::gui {
namespace {

constexpr int gap = 4;
constexpr qint64 reopenGuardMs = 300;
// A host that names only the point of a click names the pointer or the icon's corner.
constexpr int anchorSlack = 24;

} // namespace

PanelPopup::PanelPopup(QWidget* content) : QWidget(nullptr, Qt::Popup), content_(content) {
    setObjectName(QStringLiteral("panelPopup"));
    setWindowTitle(QStringLiteral("Vesperon panel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content_);
    setFixedSize(content_->size());
}

void PanelPopup::showAnchored(const QRect& anchor) {
    const QPoint pointer = QCursor::pos();
    const QPoint reference = anchor.isValid() ? anchor.center() : pointer;
    QScreen* screen = QGuiApplication::screenAt(reference);
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    const QRect area = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
    const QRect below = anchor.isValid() ? anchor : QRect(pointer, QSize(1, 1));

    // Centred under the icon; above it when the tray sits at the bottom of the screen.
    int x = below.center().x() - width() / 2;
    int y = below.bottom() + gap;
    if (y + height() > area.bottom()) {
        y = below.top() - gap - height();
    }
    x = std::clamp(x, area.left(), std::max(area.left(), area.right() - width()));
    y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() - height()));
    move(x, y);
    show();
    raise();
    activateWindow();
    content_->setFocus(Qt::PopupFocusReason);
}

bool PanelPopup::justClosedFrom(const QRect& anchor) const {
    return anchor.isValid() && sinceHidden_.isValid() && sinceHidden_.elapsed() < reopenGuardMs &&
           anchor.adjusted(-anchorSlack, -anchorSlack, anchorSlack, anchorSlack)
               .contains(closedAt_);
}

void PanelPopup::hideEvent(QHideEvent* event) {
    sinceHidden_.start();
    closedAt_ = QCursor::pos(); // where the closing click was
    QWidget::hideEvent(event);
}

} // namespace vesperon::gui
