// The Linux program shows the one picture the Windows icon holds: its icon, drawn by the resource
// generator at build time, is the platform-free drawing pixel for pixel at every size it offers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QSize>

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
    // The sizes the window icon has always offered, from the smallest window decoration to a dock.
    const QList<QSize> sizes = {{16, 16}, {24, 24}, {32, 32}, {48, 48}, {64, 64}, {128, 128}, {256, 256}};
    const QIcon icon = qtfront::AppIcon();
    EXPECT_EQ(icon.availableSizes(), sizes);
    for (const QSize& size : sizes) {
        const QPixmap shown = icon.pixmap(size);
        ASSERT_EQ(shown.size(), size);
        EXPECT_EQ(FirstDifference(shown.toImage(), size.width()), -1) << size.width();
    }
}

}  // namespace
