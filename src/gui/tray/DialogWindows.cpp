#include "gui/tray/DialogWindows.hpp"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/QtText.hpp"

namespace vesperon::gui {
namespace {

// With the layout's margins the window is about 400 points wide, as the desktop's own
// alerts are.
constexpr int textWidth = 380;

// An accessory application brings its dialogs to the front itself.
void bringToFront(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

} // namespace

void showAlert(const std::string& title, const std::string& message) {
    DialogRequest request;
    request.title = title;
    request.message = message;
    request.buttons = {"OK"};
    (void)showDialog(request, "vesperonAlert");
}

DialogAnswer showDialog(const DialogRequest& request) {
    return showDialog(request, "vesperonDialog");
}

DialogAnswer showDialog(const DialogRequest& request, const char* objectName) {
    QDialog dialog;
    dialog.setObjectName(QString::fromLatin1(objectName));
    dialog.setWindowTitle(QString::fromLatin1(dialogWindowTitle));
    dialog.setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(&dialog);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* title = new QLabel(qtText(request.title));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    title->setTextFormat(Qt::PlainText);
    title->setWordWrap(true);
    title->setFixedWidth(textWidth);
    layout->addWidget(title);
    if (!request.message.empty()) {
        auto* message = new QLabel(qtText(request.message));
        message->setTextFormat(Qt::PlainText);
        message->setWordWrap(true);
        message->setTextInteractionFlags(Qt::TextSelectableByMouse); // an address to copy
        message->setFixedWidth(textWidth);
        layout->addWidget(message);
    }

    QLineEdit* field = nullptr;
    QComboBox* popUp = nullptr;
    if (request.textField) {
        field = new QLineEdit;
        field->setPlaceholderText(qtText(request.textField->placeholder));
        field->setFixedSize(request.textField->width, request.textField->height);
        layout->addWidget(field);
    } else if (request.popUp) {
        popUp = new QComboBox;
        for (const std::string& item : request.popUp->items) {
            popUp->addItem(qtText(item));
        }
        popUp->setCurrentIndex(request.popUp->selected);
        popUp->setAccessibleName(qtText(request.popUp->accessibilityLabel));
        popUp->setFixedSize(request.popUp->width, request.popUp->height);
        layout->addWidget(popUp);
    }

    int chosen = -1;
    int cancelIndex = -1;
    auto* row = new QHBoxLayout;
    row->addStretch();
    layout->addLayout(row);
    // The first button is the default and sits at the trailing edge.
    for (int index = static_cast<int>(request.buttons.size()) - 1; index >= 0; --index) {
        const std::string& label = request.buttons[static_cast<std::size_t>(index)];
        auto* button = new QPushButton(controlText(label));
        button->setObjectName(QStringLiteral("dialogButton%1").arg(index));
        button->setAutoDefault(false);
        if (index == 0) {
            button->setDefault(true);
        }
        if (label == "Cancel") {
            cancelIndex = index;
        }
        QObject::connect(button, &QPushButton::clicked, &dialog, [&dialog, &chosen, index] {
            chosen = index;
            dialog.accept();
        });
        row->addWidget(button);
    }

    if (field != nullptr) {
        field->setFocus();
    } else if (popUp != nullptr) {
        popUp->setFocus();
    }
    bringToFront(dialog);
    if (dialog.exec() != QDialog::Accepted) {
        chosen = cancelIndex;
    }

    DialogAnswer answer;
    answer.button = chosen;
    if (field != nullptr) {
        answer.text = field->text().toStdString();
    }
    if (popUp != nullptr) {
        answer.selectedItem = popUp->currentIndex();
    }
    return answer;
}

} // namespace vesperon::gui
