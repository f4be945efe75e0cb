#pragma once
// The program's icon as the resource generator drew it from res/AppIconPicture.h at build time, at
// every size a window system asks for, so no program draws it at its start. The pixels are
// premultiplied 0xAARRGGBB words, row by row from the top: the layout Qt's raster pixmaps keep
// (QImage::Format_ARGB32_Premultiplied), so they are shown straight from the program's file.
#include <cstddef>
#include <cstdint>

namespace res {

struct AppIconImage {
    int size;  // width and height in pixels
    const std::uint32_t* pixels;
};

struct AppIconImages {
    const AppIconImage* images;  // smallest first
    std::size_t count;

    const AppIconImage* begin() const { return images; }
    const AppIconImage* end() const { return images + count; }
};

// Defined in the generated source.
AppIconImages BuiltAppIcon();

}  // namespace res
