// velmora-render-icon: writes one of the program's pictures as a PNG of the
// given size, drawn by the same code that draws it in the window, so the
// icons the desktop shows cannot drift from the window's own.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QString>

#include <cstdio>
#include <cstdlib>

#include "platform/Icons.h"

namespace {

// A picture name the resources do not hold renders as a fully transparent
// square; that must fail the build rather than install an invisible icon.
bool HasVisiblePixel(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(line[x]) != 0) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s NAME SIZE OUT.png\n", argv[0]);
        return 2;
    }
    char* end = nullptr;
    const long size = std::strtol(argv[2], &end, 10);
    if (end == argv[2] || *end != '\0' || size < 1 || size > 1024) {
        std::fprintf(stderr, "velmora-render-icon: size must be 1 to 1024, not %s\n", argv[2]);
        return 2;
    }
    // No screen is needed to draw into an image, and a build machine may have none.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QString name = QString::fromLocal8Bit(argv[1]);
    const QImage image = appicons::Picture(name, static_cast<int>(size)).toImage();
    if (image.width() != size || image.height() != size || !HasVisiblePixel(image)) {
        std::fprintf(stderr, "velmora-render-icon: no picture named %s\n", argv[1]);
        return 1;
    }
    if (!image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "velmora-render-icon: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
