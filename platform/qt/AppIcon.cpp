#include "platform/qt/AppIcon.h"

#include <QImage>
#include <QPixmap>

#include "res/AppIconImages.h"

namespace qtfront {

QIcon AppIcon() {
    QIcon icon;
    for (const res::AppIconImage& image : res::BuiltAppIcon()) {
        // A QImage on const data never writes to it; in the format the raster pixmap keeps, the
        // pixmap shares it instead of converting a copy.
        const QImage pixels(reinterpret_cast<const uchar*>(image.pixels), image.size, image.size,
                            static_cast<qsizetype>(image.size) * 4, QImage::Format_ARGB32_Premultiplied);
        icon.addPixmap(QPixmap::fromImage(pixels));
    }
    return icon;
}

}  // namespace qtfront
