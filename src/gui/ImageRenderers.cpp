#include "gui/ImageRenderers.hpp"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QWidget>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "app/SessionPanel.hpp"
#include "common/AtomicFile.hpp"
#include "common/ErrorDomains.hpp"
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

// The image replaces nothing but a regular file of ours: a link is never followed
// (the new file is renamed over the name, so a link there would be replaced, not
// written through), and another's file or anything that is not a file is left alone.
Result<void> replaceableByUs(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return errno == ENOENT ? Result<void>()
                               : fail(errorDomain::system, std::strerror(errno), errno);
    }
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        return fail(errorDomain::system, "it is not a regular file of this user", EEXIST);
    }
    return {};
}

int write(const QByteArray& png, const char* path) {
    const std::string target(path);
    auto written = replaceableByUs(target);
    if (written) {
        written = writeFileAtomically(
            target, std::string_view(png.constData(), static_cast<std::size_t>(png.size())),
            FileAttributes{0644, {}, {}}, [&target] { return replaceableByUs(target); });
    }
    if (!written) {
        std::fprintf(stderr, "vesperon: could not write %s: %s\n", path,
                     written.error().message.c_str());
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
