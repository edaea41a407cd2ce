#include "gui/ImageRenderers.hpp"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QWidget>
#include <cstdio>

#include "app/SessionPanel.hpp"
#include "gui/AboutContentView.hpp"
#include "gui/SessionPanelView.hpp"

namespace vesperon::gui {
namespace {

// The view, laid out and drawn into a bitmap of its bounds at the pixel density of
// `appearance`, encoded as PNG; empty when either step fails.
QByteArray pngOf(QWidget& view, const Appearance& appearance) {
    view.ensurePolished();
    const qreal ratio = appearance.pixelRatio;
    // The views paint every pixel opaque: an image without an alpha channel encodes a
    // quarter less data and makes a smaller file.
    QImage image(view.size() * ratio, QImage::Format_RGB32);
    if (image.isNull()) {
        std::fputs("vesperon: could not make the image's bitmap\n", stderr);
        return {};
    }
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        view.render(&painter);
    }
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        std::fputs("vesperon: could not encode the image as PNG\n", stderr);
        return {};
    }
    return png;
}

int write(const QByteArray& png, const char* path) {
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(png) != png.size() ||
        !file.flush()) {
        std::fprintf(stderr, "vesperon: could not write %s: %s\n", path,
                     file.errorString().toLocal8Bit().constData());
        return 1;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        std::fprintf(stderr, "vesperon: could not write %s: %s\n", path,
                     file.errorString().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}

} // namespace

int renderPanel(int argc, const char* const* argv) {
    if (argc < 3) {
        return 1;
    }
    SessionPanel panel;
    if (argc > 3) {
        panel.setPreview(42420, 86400);
    }
    const Appearance appearance = Appearance::images();
    SessionPanelView view(panel, appearance);
    view.refresh();
    const QByteArray png = pngOf(view, appearance);
    return png.isEmpty() ? 1 : write(png, argv[2]);
}

int renderAbout(int argc, const char* const* argv) {
    const Appearance appearance = Appearance::images();
    AboutContentView view(appearance);
    const QByteArray png = pngOf(view, appearance);
    if (png.isEmpty() || argc != 3) {
        return 1;
    }
    return write(png, argv[2]);
}

} // namespace vesperon::gui
