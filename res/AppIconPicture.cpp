#include "res/AppIconPicture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace res {

namespace {

// The picture lives on a 64-unit square; pens are 2 units wide, centred on their shape's edge.
constexpr double kUnits = 64;
constexpr double kHalfPen = 1;

struct Colour {
    double r, g, b;
};

constexpr Colour Rgb(std::uint32_t rgb) {
    return {((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0};
}

constexpr Colour kBoardEdge = Rgb(0x101418), kBoard = Rgb(0x2B333B), kFinger = Rgb(0xD4A017),
                 kFan = Rgb(0x45515C), kHub = Rgb(0x1B2127), kBoltEdge = Rgb(0x5A3A00), kBolt = Rgb(0xFFC107);

struct Point {
    double x, y;
};

constexpr std::array<Point, 7> kBoltOutline{
    {{44, 4}, {28, 34}, {38, 34}, {32, 60}, {54, 26}, {43, 26}, {52, 4}}};

// Negative inside a rectangle with rounded corners, positive outside: the distance to its edge.
double RoundedRectDistance(Point p, double left, double top, double width, double height, double radius) {
    const double qx = std::abs(p.x - (left + width / 2)) - (width / 2 - radius);
    const double qy = std::abs(p.y - (top + height / 2)) - (height / 2 - radius);
    return std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0) - radius;
}

double SegmentDistance(Point p, Point a, Point b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double t = std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

template <std::size_t N>
bool InsidePolygon(const std::array<Point, N>& polygon, Point p) {
    bool inside = false;
    for (std::size_t i = 0, j = N - 1; i < N; j = i++) {
        const Point& a = polygon[i];
        const Point& b = polygon[j];
        if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x) inside = !inside;
    }
    return inside;
}

template <std::size_t N>
double EdgeDistance(const std::array<Point, N>& polygon, Point p) {
    double nearest = kUnits;
    for (std::size_t i = 0, j = N - 1; i < N; j = i++) nearest = std::min(nearest, SegmentDistance(p, polygon[j], polygon[i]));
    return nearest;
}

// The colour at one point, painted back to front; false where nothing is painted.
bool Sample(Point p, Colour& colour) {
    bool painted = false;
    auto paint = [&](const Colour& c) {
        colour = c;
        painted = true;
    };
    const double board = RoundedRectDistance(p, 4, 14, 56, 34, 5);
    if (board <= -kHalfPen) paint(kBoard);
    else if (board <= kHalfPen) paint(kBoardEdge);
    for (int finger = 0; finger < 6; ++finger) {
        const double left = 14 + finger * 6;
        if (p.x >= left && p.x <= left + 4 && p.y >= 48 && p.y <= 54) paint(kFinger);
    }
    const double fan = std::hypot(p.x - 22, p.y - 31);
    if (fan <= 12) paint(fan <= 3.5 ? kHub : kFan);
    // Round joins: the pen is every point within half its width of an edge.
    if (EdgeDistance(kBoltOutline, p) <= kHalfPen) paint(kBoltEdge);
    else if (InsidePolygon(kBoltOutline, p)) paint(kBolt);
    return painted;
}

std::uint8_t Channel(double value) { return static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255)); }

}  // namespace

std::vector<IconPixel> DrawAppIcon(int size) {
    constexpr int kSub = 4;  // samples per pixel on each axis
    const double unitsPerPixel = kUnits / size;
    std::vector<IconPixel> pixels;
    pixels.reserve(static_cast<std::size_t>(size) * static_cast<std::size_t>(size));
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            double r = 0, g = 0, b = 0;
            int covered = 0;
            for (int sy = 0; sy < kSub; ++sy) {
                for (int sx = 0; sx < kSub; ++sx) {
                    Colour c{};
                    const Point p{(px + (sx + 0.5) / kSub) * unitsPerPixel, (py + (sy + 0.5) / kSub) * unitsPerPixel};
                    if (!Sample(p, c)) continue;
                    r += c.r;
                    g += c.g;
                    b += c.b;
                    ++covered;
                }
            }
            if (covered == 0) {
                pixels.push_back({0, 0, 0, 0});
                continue;
            }
            pixels.push_back({Channel(r / covered), Channel(g / covered), Channel(b / covered),
                              Channel(static_cast<double>(covered) / (kSub * kSub))});
        }
    }
    return pixels;
}

}  // namespace res
