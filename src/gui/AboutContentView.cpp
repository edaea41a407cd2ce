#include "gui/AboutContentView.hpp"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/ProductInfo.hpp"

namespace vesperon::gui {
namespace {

QLabel* textLine(const QString& text, const QFont& font, const QColor& colour) {
    auto* label = new QLabel(text);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(css(colour)));
    return label;
}

} // namespace

AboutContentView::AboutContentView(const Appearance& look, const LinkOpener& openLink,
                                   QWidget* parent)
    : QWidget(parent) {
    setFixedSize(width, height);
    setStyleSheet(
        QStringLiteral("QPushButton { background-color: rgba(255, 255, 255, 46);"
                       " color: %1; border: none; border-radius: 6px; padding: 0 8px; }"
                       "QPushButton:pressed { background-color: rgba(255, 255, 255, 82); }"
                       "QPushButton#doneButton { background-color: %2;"
                       " color: rgba(0, 0, 0, 217); }")
            .arg(css(dark::label()), css(dark::mint())));

    auto* icon = new QLabel;
    icon->setObjectName("appIcon");
    icon->setFixedSize(96, 96);
    icon->setAccessibleName(QStringLiteral("Vesperon app icon"));
    icon->setPixmap(look.symbol(QStringLiteral("AppIcon.svg"), QSizeF(96, 96)));

    QLabel* title = textLine(QStringLiteral("Vesperon"), look.font(30, QFont::Bold), dark::label());
    title->setObjectName("titleLabel");
    QLabel* version = textLine(QStringLiteral("Version %1").arg(product::version), look.font(12),
                               dark::secondaryLabel());
    version->setObjectName("versionLabel");
    QLabel* credit = textLine(QStringLiteral("Made by %1").arg(QString::fromUtf8(product::maker)),
                              look.font(15, QFont::Medium), dark::label());
    credit->setObjectName("creditLabel");

    auto makeButton = [&](const QString& text, const char* name) {
        auto* button = new QPushButton(text);
        button->setObjectName(name);
        button->setFont(look.font(13));
        button->setFixedSize(100, 30);
        return button;
    };
    QPushButton* gitHub = makeButton(QStringLiteral("GitHub"), "gitHubButton");
    gitHub->setAccessibleName(QStringLiteral("Open Vesperon on GitHub"));
    gitHub->setIcon(
        QIcon(look.symbol(QStringLiteral("arrow-up-right.svg"), QSizeF(11, 11), dark::label())));
    gitHub->setIconSize(QSize(11, 11));
    gitHub->setLayoutDirection(Qt::RightToLeft); // the symbol after the title
    connect(gitHub, &QPushButton::clicked, this, [openLink] {
        if (openLink) {
            openLink(std::string(product::repositoryAddress));
        }
    });
    const QString support = QString::fromUtf8(product::supportAddress);
    QPushButton* supportButton = makeButton(QStringLiteral("Support"), "supportButton");
    supportButton->setAccessibleName(QStringLiteral("Email ") + support);
    connect(supportButton, &QPushButton::clicked, this, [openLink] {
        if (openLink) {
            openLink("mailto:" + std::string(product::supportAddress));
        }
    });
    doneButton_ = makeButton(QStringLiteral("Done"), "doneButton");
    connect(doneButton_, &QPushButton::clicked, this, [this] { closeAbout(); });

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addWidget(gitHub);
    buttons->addWidget(supportButton);
    buttons->addWidget(doneButton_);

    auto* stack = new QVBoxLayout(this);
    // The stack's centre sits 8 points below the view's centre.
    stack->setContentsMargins(0, 16, 0, 0);
    stack->setSpacing(0);
    stack->addStretch();
    stack->addWidget(icon, 0, Qt::AlignHCenter);
    stack->addSpacing(12);
    stack->addWidget(title, 0, Qt::AlignHCenter);
    stack->addSpacing(4);
    stack->addWidget(version, 0, Qt::AlignHCenter);
    stack->addSpacing(24);
    stack->addWidget(credit, 0, Qt::AlignHCenter);
    stack->addSpacing(28);
    stack->addLayout(buttons);
    stack->setAlignment(buttons, Qt::AlignHCenter);
    stack->addStretch();
    stack->activate();
}

void AboutContentView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), dark::windowBackground());
}

void AboutContentView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        closeAbout();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        doneButton_->click();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void AboutContentView::closeAbout() {
    window()->close(); // a view outside any window is its own: closing it is harmless
}

} // namespace vesperon::gui
