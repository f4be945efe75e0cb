// The Linux program shows the one picture the Windows icon holds: its icon, as a window and the
// .deb's exported PNGs get it, is the platform-free drawing pixel for pixel.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>

#include <cstddef>
#include <cstdlib>
#include <vector>

#include "platform/qt/AppIcon.h"
#include "res/AppIconPicture.h"

namespace {

// Qt may keep an icon's pixmaps premultiplied: a colour then counts as the same when its
// premultiplied channels differ by no more than that rounding.
bool Same(int drawn, int shown, int alpha) { return std::abs(drawn * alpha - shown * alpha) <= 255; }

// The first pixel that differs, or -1.
int FirstDifference(const QImage& shown, int size) {
    const std::vector<res::IconPixel> drawn = res::DrawAppIcon(size);
    const QImage image = shown.convertToFormat(QImage::Format_RGBA8888);
    if (image.width() != size || image.height() != size) return 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const res::IconPixel& p = drawn[static_cast<std::size_t>(y * size + x)];
            const QColor c = image.pixelColor(x, y);
            const bool same = c.alpha() == p.a && (p.a == 0 || (Same(p.r, c.red(), p.a) && Same(p.g, c.green(), p.a) &&
                                                                 Same(p.b, c.blue(), p.a)));
            if (!same) return y * size + x;
        }
    }
    return -1;
}

TEST(QtAppIcon, IsThePictureTheWindowsIconHoldsAtEverySize) {
    for (int size : {16, 22, 32, 48, 64, 256}) EXPECT_EQ(FirstDifference(qtfront::AppIconImage(size), size), -1) << size;
    const QIcon icon = qtfront::AppIcon();
    for (int size : {16, 32, 48}) EXPECT_EQ(FirstDifference(icon.pixmap(size, size).toImage(), size), -1) << size;
}

}  // namespace
