#include "platform/qt/AppIcon.h"

#include <QColor>
#include <QPixmap>

#include <cstddef>
#include <vector>

#include "res/AppIconPicture.h"

namespace qtfront {

QImage AppIconImage(int size) {
    const std::vector<res::IconPixel> pixels = res::DrawAppIcon(size);
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

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(QPixmap::fromImage(AppIconImage(size)));
    return icon;
}

}  // namespace qtfront
