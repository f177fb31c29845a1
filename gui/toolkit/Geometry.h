// Editor geometry: window pixels with the origin at the bottom left and y
// growing upwards; colours are RGBA floats from 0 to 1.
#pragma once

namespace QZ {

struct Point {
    float x = 0;
    float y = 0;
};

// An axis-aligned box; the empty box has its minimum above its maximum, so
// that the first union with anything gives that thing.
struct Box {
    float x0 = 1e10f, y0 = 1e10f, z0 = 1e10f;
    float x1 = -1e10f, y1 = -1e10f, z1 = -1e10f;

    bool IsEmpty() const { return x0 > x1 || y0 > y1; }
    bool Contains(const Point& p) const { return x0 <= p.x && p.x <= x1 && y0 <= p.y && p.y <= y1; }
};

struct Colour {
    float r = 0, g = 0, b = 0, a = 1;
};

} // namespace QZ
