#pragma once
// The application icon: a graphics board with a lightning bolt across it, drawn at every size a
// window system asks for, so no image file has to travel with the program.
#include <QIcon>
#include <QImage>

namespace qtfront {

// Needs a QGuiApplication.
QIcon AppIcon();
// One size of it, for exporting the image (the Windows icon is made from these).
QImage AppIconImage(int size);

}  // namespace qtfront
