#pragma once
// The application icon at every size a window system asks for, so no image file has to travel with
// the program: the pixels the resource generator drew at build time (res/AppIconImages.h), the
// picture the Windows program's icon holds.
#include <QIcon>

namespace qtfront {

// Needs a QGuiApplication. Cheap: the pixmaps share the program's own read-only pixels.
QIcon AppIcon();

}  // namespace qtfront
