// Writes the program's icon as PNG files into a hicolor icon theme tree, drawn at build time from
// the one picture (res/AppIconPicture.h) that the running program's window icon and the Windows
// program's .ico are drawn from:
//
//   export-icons OUTPUT_DIR ICON_NAME
//
// gives OUTPUT_DIR/hicolor/NxN/apps/ICON_NAME.png for every size a desktop asks for.
#include <QColor>
#include <QDir>
#include <QImage>
#include <QString>

#include <cstddef>
#include <cstdio>
#include <vector>

#include "res/AppIconPicture.h"

namespace {

QImage IconImage(int size) {
    const std::vector<res::IconPixel> pixels = res::DrawAppIcon(size);
    // Straight alpha, as PNG keeps it: no colour is rounded through premultiplication.
    QImage image(size, size, QImage::Format_RGBA8888);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const res::IconPixel& p = pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(size) +
                                             static_cast<std::size_t>(x)];
            image.setPixelColor(x, y, QColor(p.r, p.g, p.b, p.a));
        }
    }
    return image;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fputs("usage: export-icons OUTPUT_DIR ICON_NAME\n", stderr);
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("%1/hicolor/%2x%2/apps").arg(root).arg(size);
        const QString file = QStringLiteral("%1/%2.png").arg(folder, name);
        if (!QDir().mkpath(folder) || !IconImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "export-icons: cannot write %s\n", file.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
