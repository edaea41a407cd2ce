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
    // The click that closed the popup from outside may have been on the icon itself;
    // that click must not open it again at once.
    bool justClosed() const;

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    QWidget* content_;
    QElapsedTimer sinceHidden_;
};

} // namespace vesperon::gui
