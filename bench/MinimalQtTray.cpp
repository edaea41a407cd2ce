// The reference for the tray application's start-up time and memory: the least a Qt
// program does to show a tray icon with a menu.
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QPixmap image(44, 44);
    image.fill(Qt::transparent);
    QPainter(&image).fillRect(8, 8, 28, 28, Qt::black);
    QMenu menu;
    menu.addAction(QStringLiteral("Quit"), &application, &QApplication::quit);
    QSystemTrayIcon icon{QIcon(image)};
    icon.setToolTip(QStringLiteral("Minimal"));
    icon.setContextMenu(&menu);
    icon.show();
    return QApplication::exec();
}
