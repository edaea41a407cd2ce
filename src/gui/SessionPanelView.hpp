#pragma once

#include <QWidget>
#include <functional>
#include <vector>

#include "app/SessionPanel.hpp"
#include "app/SettingsMenu.hpp"
#include "gui/Appearance.hpp"

class QLabel;
class QLineEdit;
class QPushButton;

namespace vesperon::gui {

// The session panel drawn with Qt: a fixed 340 x 520 point view with the countdown
// ring and clock, the state line, the quick durations, the custom entry, the task,
// agent and main buttons and the settings (gear) menu. It draws what the panel's
// model says after every refresh and turns clicks and typing into calls on the
// panel, which owns the fields and talks to the owner.
class SessionPanelView final : public QWidget {
  public:
    static constexpr int width = 340;
    static constexpr int height = 520;

    // Builds every control and refreshes. `panel` outlives the view.
    SessionPanelView(SessionPanel& panel, Appearance appearance, QWidget* parent = nullptr);

    // What the gear button shows, read afresh on every click; without one the gear
    // does nothing (a panel without an owner).
    using MenuSource = std::function<std::vector<MenuEntry>()>;
    void setMenuSource(MenuSource source) { menuSource_ = std::move(source); }

    // Every text, colour, visibility and enabled state again from the model, then a
    // redraw. The owner calls this on every change and every tick.
    void refresh();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QLabel* label(const char* name, const QRect& frame, const QFont& font, Qt::Alignment alignment);
    QPushButton* button(const char* name, const QRect& frame, const QFont& font);
    QLineEdit* input(const char* name, const QRect& frame, const QString& accessibleName);
    void customTextEdited();
    void mainClicked();
    void showSettings();
    bool editingCustomEntry() const;

    SessionPanel& panel_;
    Appearance appearance_;
    MenuSource menuSource_;
    PanelModel model_;

    QLabel* clockLabel_;
    QLabel* stateLabel_;
    QLabel* detailLabel_;
    QPushButton* mainButton_;
    QLineEdit* hoursInput_;
    QLineEdit* minutesInput_;
    QLabel* customLabel_;
    QLabel* hoursLabel_;
    QLabel* minutesLabel_;
    QLabel* customError_;
    QPushButton* agentButton_;
    QPushButton* taskButton_;
    QPushButton* gearButton_;
    std::vector<QPushButton*> durations_;
};

} // namespace vesperon::gui
