#pragma once

#include <QElapsedTimer>
#include <QWidget>

namespace vesperon::gui {

// The panel's popup window: anchored under the tray icon (at the pointer when the
// tray gives no geometry), closed by a click anywhere else, and holding the keyboard
// focus while it is open.
class PanelPopup final : public QWidget {
  public:
    explicit PanelPopup(QWidget* content);

    // Opens at `anchor` (the icon's rectangle on the screen; empty when unknown).
    void showAnchored(const QRect& anchor);
    // A click on the icon while the popup is open closes it (the popup holds the
    // pointer); where the tray still passes that click on to the icon, it must not
    // open the popup again. True only for the click that closed the popup, and only
    // when it was on `anchor`, the icon: any other click on the icon opens it.
    bool justClosedFrom(const QRect& anchor) const;

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    QWidget* content_;
    QElapsedTimer sinceHidden_;
    QPoint closedAt_;
};

} // namespace vesperon::gui
