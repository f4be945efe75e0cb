// Writes the program's icon as PNG files into a hicolor icon theme tree, drawn by the same code
// that draws the running program's window icon:
//
//   export-icons OUTPUT_DIR ICON_NAME
//
// gives OUTPUT_DIR/hicolor/NxN/apps/ICON_NAME.png for every size a desktop asks for.
#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

#include "platform/qt/AppIcon.h"

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
        if (!QDir().mkpath(folder) || !qtfront::AppIconImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "export-icons: cannot write %s\n", file.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
