#pragma once
// The program's icon, one picture on every system: a graphics board with the gold fingers of its
// bus connector, a fan, and a lightning bolt across it for the power the program sets. Drawn
// without any window system, so the Windows resource generator (for the .ico) and the Qt program
// (window icon, the .deb's PNGs) show the same pixels.
#include <cstdint>
#include <vector>

namespace res {

struct IconPixel {
    std::uint8_t r, g, b, a;  // straight, not premultiplied, alpha

    bool operator==(const IconPixel& other) const {
        return r == other.r && g == other.g && b == other.b && a == other.a;
    }
};

// size x size pixels, row by row from the top, antialiased.
std::vector<IconPixel> DrawAppIcon(int size);

}  // namespace res
