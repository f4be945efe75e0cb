// The icon's picture, checked at points whose colour the drawing's own geometry fixes: each part
// of the board in its colour, the bolt and its outline, and the antialiased edge.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <string>

#include "res/AppIconPicture.h"

namespace {

struct Spot {
    const char* what;
    int size, x, y;
    res::IconPixel expected;
};

std::string Text(const res::IconPixel& p) {
    char text[32];
    std::snprintf(text, sizeof text, "%02X%02X%02X/%d", p.r, p.g, p.b, p.a);
    return text;
}

TEST(AppIconPicture, EachPartOfThePictureHasItsColour) {
    // At 64 pixels one pixel is one unit of the drawing.
    const Spot spots[] = {
        {"corner, nothing drawn", 64, 0, 0, {0x00, 0x00, 0x00, 0}},
        {"board", 64, 50, 20, {0x2B, 0x33, 0x3B, 255}},
        {"board's edge", 64, 3, 30, {0x10, 0x14, 0x18, 255}},
        {"just outside the board's edge", 64, 2, 30, {0x00, 0x00, 0x00, 0}},
        {"gold finger", 64, 15, 50, {0xD4, 0xA0, 0x17, 255}},
        {"fan", 64, 14, 31, {0x45, 0x51, 0x5C, 255}},
        {"fan's hub", 64, 21, 30, {0x1B, 0x21, 0x27, 255}},
        {"bolt", 64, 44, 14, {0xFF, 0xC1, 0x07, 255}},
        {"bolt's outline above the board", 64, 48, 3, {0x5A, 0x3A, 0x00, 255}},
        // At 32 pixels this one spans units 2 to 4: half of it is the board's edge.
        {"half-covered edge", 32, 1, 15, {0x10, 0x14, 0x18, 128}},
    };
    for (const Spot& spot : spots) {
        const std::vector<res::IconPixel> pixels = res::DrawAppIcon(spot.size);
        ASSERT_EQ(pixels.size(), static_cast<std::size_t>(spot.size * spot.size));
        const res::IconPixel& got = pixels[static_cast<std::size_t>(spot.y * spot.size + spot.x)];
        EXPECT_EQ(Text(got), Text(spot.expected)) << spot.what << " at " << spot.x << "," << spot.y;
    }
}

}  // namespace
