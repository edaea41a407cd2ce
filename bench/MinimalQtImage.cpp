// The baseline of the panel renderer's benchmark: the least a Qt program does to make
// a 680 x 1040 image and write it as PNG.
#include <QColor>
#include <QImage>
#include <QString>

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    QImage image(680, 1040, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(50, 50, 50));
    return image.save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
