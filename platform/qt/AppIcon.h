#pragma once
// The application icon at every size a window system asks for, so no image file has to travel with
// the program: the picture res::DrawAppIcon draws, the same the Windows program's icon holds.
#include <QIcon>
#include <QImage>

namespace qtfront {

// Needs a QGuiApplication.
QIcon AppIcon();
// One size of it, for exporting the image (the .deb's icons).
QImage AppIconImage(int size);

}  // namespace qtfront
