#include "gui/SessionPanelView.hpp"

#include <algorithm>

#include <QDateTime>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStyle>

#include "gui/QtText.hpp"

namespace vesperon::gui {
namespace {

// Room kept free of the ring on each side of the state line's text.
constexpr int stateClearance = 6;

// The frames are given with the origin at the bottom-left of the panel.
QRect frame(int x, int y, int w, int h) {
    return fromBottomLeft(x, y, w, h, SessionPanelView::height);
}

std::string localShortTime(std::chrono::system_clock::time_point time) {
    const QDateTime when =
        QDateTime::fromSecsSinceEpoch(std::chrono::system_clock::to_time_t(time));
    return shortTime(when.time(), QLocale::system()).toStdString();
}

void setColour(QWidget* widget, const QColor& colour) {
    const QString sheet = QStringLiteral("color: %1;").arg(css(colour));
    if (widget->styleSheet() != sheet) {
        widget->setStyleSheet(sheet);
    }
}

// Mint bezel or the default one; the style sheet keys on the property.
void setMintBezel(QPushButton* button, bool mint) {
    if (button->property("mint").toBool() == mint) {
        return;
    }
    button->setProperty("mint", mint);
    button->style()->unpolish(button);
    button->style()->polish(button);
}

void addEntries(QMenu* menu, const std::vector<MenuEntry>& entries) {
    for (const MenuEntry& entry : entries) {
        if (entry.separator) {
            menu->addSeparator();
        } else if (!entry.submenu.empty()) {
            addEntries(menu->addMenu(controlText(entry.title)), entry.submenu);
        } else {
            QAction* action = menu->addAction(controlText(entry.title));
            action->setCheckable(entry.checked);
            action->setChecked(entry.checked);
            if (entry.action) {
                QObject::connect(action, &QAction::triggered, menu, entry.action);
            }
        }
    }
}

QString panelStyleSheet() {
    const QColor mint = dark::mint();
    QColor faintMint = mint;
    faintMint.setAlpha(90);
    return QStringLiteral(
               "QPushButton { background-color: %1; color: %2; border: none;"
               " border-radius: 6px; margin: 3px 2px; padding: 0 6px; }"
               "QPushButton:pressed, QPushButton:checked { background-color: %3; }"
               "QPushButton:disabled { color: %4; background-color: %5; }"
               "QPushButton[mint=\"true\"] { background-color: %6; color: rgba(0, 0, 0, 217); }"
               "QPushButton[mint=\"true\"]:disabled { background-color: %7; }"
               "QPushButton#gearButton { background: transparent; margin: 0; padding: 0; }"
               "QLineEdit { background-color: rgba(255, 255, 255, 15); color: %2;"
               " border: 1px solid rgba(255, 255, 255, 46); border-radius: 5px; }"
               "QLineEdit:focus { border: 2px solid %6; }"
               "QLineEdit:disabled { color: %4; }")
        .arg(css(QColor(255, 255, 255, 46)), css(dark::label()), css(QColor(255, 255, 255, 82)),
             css(QColor(255, 255, 255, 64)), css(QColor(255, 255, 255, 20)), css(mint),
             css(faintMint));
}

} // namespace

SessionPanelView::SessionPanelView(SessionPanel& panel, Appearance appearance, QWidget* parent)
    : QWidget(parent), panel_(panel), appearance_(std::move(appearance)) {
    setFixedSize(width, height);
    setStyleSheet(panelStyleSheet());
    const Appearance& look = appearance_;

    auto* icon = new QLabel(this);
    icon->setObjectName("appIcon");
    icon->setGeometry(frame(22, 472, 30, 30));
    icon->setPixmap(look.symbol(QStringLiteral("AppIcon.svg"), QSizeF(30, 30)));

    QLabel* title =
        label("titleLabel", frame(62, 480, 170, 22), look.font(16, QFont::DemiBold), Qt::AlignLeft);
    title->setText(QStringLiteral("Vesperon"));

    gearButton_ = button("gearButton", frame(288, 476, 32, 28), look.font(13));
    gearButton_->setFlat(true);
    gearButton_->setToolTip(QStringLiteral("Settings"));
    gearButton_->setAccessibleName(QStringLiteral("Vesperon settings"));
    const QPixmap gear =
        look.symbol(QStringLiteral("gear.svg"), QSizeF(18, 18), dark::secondaryLabel());
    gearButton_->setIcon(QIcon(gear));
    gearButton_->setIconSize(QSize(18, 18));
    connect(gearButton_, &QPushButton::clicked, this, [this] { showSettings(); });

    clockLabel_ = label("clockLabel", frame(50, 350, 240, 42), look.font(32, QFont::DemiBold),
                        Qt::AlignCenter);
    stateLabel_ =
        label("stateLabel", frame(30, 325, 280, 20), look.font(12, QFont::Medium), Qt::AlignCenter);

    for (int i = 0; i < static_cast<int>(std::size(quickDurationSeconds)); ++i) {
        const int seconds = quickDurationSeconds[i];
        const std::string name = "duration" + std::to_string(seconds);
        QPushButton* quick = button(name.c_str(), frame(20 + 61 * i, 240, 56, 32), look.font(13));
        quick->setCheckable(true);
        connect(quick, &QPushButton::clicked, this, [this, seconds] {
            panel_.selectDuration(seconds);
            refresh();
        });
        durations_.push_back(quick);
    }

    customLabel_ =
        label("customLabel", frame(22, 205, 280, 18), look.font(12, QFont::Medium), Qt::AlignLeft);
    hoursInput_ = input("hoursInput", frame(22, 170, 60, 28), QStringLiteral("Custom hours"));
    hoursLabel_ = label("hoursLabel", frame(90, 174, 70, 20), look.font(12), Qt::AlignLeft);
    hoursLabel_->setText(QStringLiteral("hours"));
    minutesInput_ =
        input("minutesInput", frame(176, 170, 60, 28), QStringLiteral("Custom minutes"));
    minutesLabel_ = label("minutesLabel", frame(244, 174, 70, 20), look.font(12), Qt::AlignLeft);
    minutesLabel_->setText(QStringLiteral("minutes"));
    setColour(hoursLabel_, dark::secondaryLabel());
    setColour(minutesLabel_, dark::secondaryLabel());
    customError_ = label("customError", frame(22, 148, 296, 18), look.font(11), Qt::AlignLeft);
    setColour(customError_, dark::red());

    taskButton_ = button("taskButton", frame(20, 108, 145, 32), look.font(13));
    connect(taskButton_, &QPushButton::clicked, this, [this] { panel_.taskAction(); });
    agentButton_ = button("agentButton", frame(175, 108, 145, 32), look.font(13));
    connect(agentButton_, &QPushButton::clicked, this, [this] { panel_.agentAction(); });
    mainButton_ = button("mainButton", frame(20, 44, 300, 36), look.font(15, QFont::Medium));
    connect(mainButton_, &QPushButton::clicked, this, [this] { mainClicked(); });

    detailLabel_ = label("detailLabel", frame(20, 14, 300, 18), look.font(12), Qt::AlignCenter);
    setColour(detailLabel_, dark::secondaryLabel());

    refresh();
}

QLabel* SessionPanelView::label(const char* name, const QRect& geometry, const QFont& font,
                                Qt::Alignment alignment) {
    auto* label = new QLabel(this);
    label->setObjectName(name);
    label->setGeometry(geometry);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(alignment | Qt::AlignVCenter);
    setColour(label, dark::label());
    return label;
}

QPushButton* SessionPanelView::button(const char* name, const QRect& geometry, const QFont& font) {
    auto* button = new QPushButton(this);
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->setFont(font);
    return button;
}

QLineEdit* SessionPanelView::input(const char* name, const QRect& geometry,
                                   const QString& accessibleName) {
    auto* input = new QLineEdit(this);
    input->setObjectName(name);
    input->setGeometry(geometry);
    input->setFont(appearance_.font(15, QFont::Medium));
    input->setAlignment(Qt::AlignCenter);
    input->setAccessibleName(accessibleName);
    connect(input, &QLineEdit::textEdited, this, [this] { customTextEdited(); });
    return input;
}

void SessionPanelView::customTextEdited() {
    panel_.customTextChanged(hoursInput_->text().toStdString(),
                             minutesInput_->text().toStdString());
    refresh();
}

void SessionPanelView::mainClicked() {
    panel_.mainAction();
    refresh();
}

bool SessionPanelView::editingCustomEntry() const {
    return hoursInput_->hasFocus() || minutesInput_->hasFocus();
}

void SessionPanelView::refresh() {
    model_ = panel_.model(localShortTime);
    const PanelModel& m = model_;

    setFittedText(*clockLabel_, qtText(m.clockText));
    setFittedText(*stateLabel_, qtText(m.stateText));
    setColour(stateLabel_, colourOf(m.stateColour));

    for (std::size_t i = 0; i < durations_.size() && i < m.quickDurations.size(); ++i) {
        const QuickDurationModel& quick = m.quickDurations[i];
        QPushButton* button = durations_[i];
        button->setText(controlText(quick.title));
        button->setAccessibleName(qtText(quick.accessibilityLabel));
        button->setEnabled(quick.enabled);
        button->setHidden(quick.hidden);
        button->setChecked(quick.on);
        setMintBezel(button, quick.bezel == ColourRole::Mint);
    }

    for (QWidget* part :
         std::initializer_list<QWidget*>{hoursInput_, minutesInput_, customLabel_, hoursLabel_,
                                         minutesLabel_, customError_, taskButton_, agentButton_}) {
        part->setHidden(m.customHidden);
    }
    hoursInput_->setEnabled(m.inputsEnabled);
    minutesInput_->setEnabled(m.inputsEnabled);
    setFittedText(*customLabel_, qtText(m.customLabel));
    setFittedText(*customError_, qtText(m.customError));
    if (!editingCustomEntry()) {
        if (m.hoursText) {
            hoursInput_->setText(qtText(*m.hoursText));
        }
        if (m.minutesText) {
            minutesInput_->setText(qtText(*m.minutesText));
        }
    }
    taskButton_->setText(controlText(m.taskTitle));
    taskButton_->setEnabled(m.taskEnabled);
    agentButton_->setText(controlText(m.agentTitle));
    agentButton_->setEnabled(m.agentEnabled);

    mainButton_->setText(controlText(m.mainTitle));
    mainButton_->setEnabled(m.mainEnabled);
    setMintBezel(mainButton_, m.mainBezel == ColourRole::Mint);

    detailLabel_->setHidden(m.detailHidden);
    setFittedText(*detailLabel_, qtText(m.detailText));
    update();
}

void SessionPanelView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), dark::windowBackground());

    const QRectF ring = frame(94, 297, 152, 152);
    QColor track = dark::separator();
    track.setAlphaF(0.3f);
    painter.setPen(QPen(track, 7));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(ring);

    if (model_.ringShown && model_.ringFraction > 0) {
        QPen arc(dark::mint(), 7);
        arc.setCapStyle(Qt::RoundCap);
        painter.setPen(arc);
        // From the top (90 degrees), clockwise (negative span), in 1/16 degrees.
        painter.drawArc(ring, 90 * 16, -qRound(model_.ringFraction * 360 * 16));
    }

    // The state line sits inside the ring's lower half, where the ring is narrower than
    // many of its texts: the ring gives way around the text, which is never crossed by
    // the stroke.
    if (!stateLabel_->isHidden() && !stateLabel_->text().isEmpty()) {
        const QRect line = stateLabel_->geometry();
        const QFontMetrics metrics(stateLabel_->font());
        const int clearWidth = std::min(
            line.width(), metrics.horizontalAdvance(stateLabel_->text()) + 2 * stateClearance);
        const int clearHeight = std::min(line.height(), metrics.height() + 2);
        QRect clear(0, 0, clearWidth, clearHeight);
        clear.moveCenter(line.center());
        painter.fillRect(clear, dark::windowBackground());
    }
}

void SessionPanelView::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        mainButton_->isEnabled() && !mainButton_->isHidden()) {
        mainButton_->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SessionPanelView::showSettings() {
    if (!menuSource_) {
        return;
    }
    auto* menu = new QMenu(this);
    menu->setObjectName("settingsMenu");
    menu->setAttribute(Qt::WA_DeleteOnClose);
    addEntries(menu, menuSource_());
    menu->popup(gearButton_->mapToGlobal(QPoint(gearButton_->width(), gearButton_->height())));
}

} // namespace vesperon::gui
