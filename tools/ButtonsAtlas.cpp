#include "tools/ButtonsAtlas.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace corvane::tools {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kSamples = 8; // per pixel side

struct Rgba {
    double r = 0, g = 0, b = 0, a = 0;
};

// Paints `top` over `bottom` (straight alpha).
Rgba Over(const Rgba& bottom, const Rgba& top)
{
    const double a = top.a + bottom.a * (1 - top.a);
    if (a <= 0)
        return {};
    const auto mix = [&](double t, double b) { return (t * top.a + b * bottom.a * (1 - top.a)) / a; };
    return {mix(top.r, bottom.r), mix(top.g, bottom.g), mix(top.b, bottom.b), a};
}


Rgba Mix(const Rgba& a, const Rgba& b, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}

// Shape of every knob, in units of the image's half side, y up.
constexpr double kHubRadius = 0.20;
constexpr double kNeedleStart = 0.26;
constexpr double kNeedleEnd = 0.70;
constexpr double kTrackInner = 0.76;
constexpr double kTrackOuter = 0.97;
constexpr double kTrackMiddle = (kTrackInner + kTrackOuter) / 2;
constexpr double kTrackHalf = (kTrackOuter - kTrackInner) / 2;
// The sweep runs clockwise from -135 degrees over the top to -45 degrees.
constexpr double kSweepStart = -3 * kPi / 4;
constexpr double kSweepEnd = -kPi / 4;

const Rgba kTrack{0.13, 0.14, 0.16, 1};
const Rgba kTrackEdge{0.22, 0.23, 0.26, 1};
const Rgba kLit{1.00, 0.66, 0.22, 1};
const Rgba kLitDim{0.80, 0.42, 0.12, 1};
const Rgba kPointer{0.96, 0.95, 0.92, 1};

// The hub: a small dark disc with a lighter rim, round in every detail (it
// turns with the face). The knob is open between hub and track: the
// renderer leaves a thin fixed sector at the sweep's start undrawn, which
// only an open knob hides.
Rgba Cap(double x, double y)
{
    const double r = std::hypot(x, y);
    if (r > kHubRadius)
        return {};
    Rgba body = Mix(Rgba{0.30, 0.31, 0.34, 1}, Rgba{0.16, 0.17, 0.19, 1}, r / kHubRadius);
    const double rim = std::clamp((r - (kHubRadius - 0.05)) / 0.05, 0.0, 1.0);
    return Mix(body, Rgba{0.62, 0.62, 0.64, 1}, rim * (1 - rim) * 4);
}

// The track's groove at distance d from its middle line: dark, with a
// slightly lighter lip on both edges.
Rgba Groove(double d)
{
    if (d > kTrackHalf)
        return {};
    return Mix(kTrack, kTrackEdge, (d / kTrackHalf - 0.6) / 0.4);
}

// Distance of (x, y) from the track's middle line over the sweep, with round
// ends: negative angles between the sweep's end and start are the gap at
// the bottom.
double TrackDistance(double x, double y)
{
    const double angle = std::atan2(y, x);
    const bool inGap = angle > kSweepStart && angle < kSweepEnd;
    if (!inGap)
        return std::fabs(std::hypot(x, y) - kTrackMiddle);
    const double ax = kTrackMiddle * std::cos(kSweepStart), ay = kTrackMiddle * std::sin(kSweepStart);
    const double bx = kTrackMiddle * std::cos(kSweepEnd), by = kTrackMiddle * std::sin(kSweepEnd);
    return std::min(std::hypot(x - ax, y - ay), std::hypot(x - bx, y - by));
}

// The arc image: the unlit track and the cap, never turned.
Rgba ArcImage(double x, double y)
{
    return Over(Groove(TrackDistance(x, y)), Cap(x, y));
}

// The face image, turned so that its +x axis points at the value: the lit
// ring counter-clockwise from the +x axis (brightest at the pointer), the
// unlit groove just below the axis (what shows past the pointer), the cap
// and the pointer line on it, in the thin strip under the axis.
Rgba FaceImage(double x, double y)
{
    const double r = std::hypot(x, y);
    const double d = std::fabs(r - kTrackMiddle);
    Rgba ring;
    if (d <= kTrackHalf) {
        double angle = std::atan2(y, x);
        if (y < 0 && x > 0 && angle > -0.4) {
            ring = Groove(d);
        } else {
            if (angle < 0)
                angle += 2 * kPi;
            const double along = std::clamp(angle / (3 * kPi / 2), 0.0, 1.0);
            ring = Mix(kLit, kLitDim, along);
            // A soft shine along the middle of the lit band.
            ring = Mix(ring, Rgba{1, 0.86, 0.55, 1}, 0.35 * (1 - d / kTrackHalf) * (1 - along));
        }
    }
    Rgba face = Over(ring, Cap(x, y));
    if (x > kNeedleStart && x < kNeedleEnd && y < -0.015 && y > -0.115) {
        const double edge = std::min({x - kNeedleStart, kNeedleEnd - x, y + 0.115, -0.015 - y});
        face = Over(face, Rgba{kPointer.r, kPointer.g, kPointer.b, std::clamp(edge / 0.02, 0.0, 1.0)});
    }
    return face;
}

template <class Shape>
void DrawImage(std::vector<uint8_t>& atlas, int left, int top, int side, Shape shape)
{
    const double half = side / 2.0;
    for (int py = 0; py < side; ++py) {
        for (int px = 0; px < side; ++px) {
            double r = 0, g = 0, b = 0, a = 0;
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const double x = (px + (sx + 0.5) / kSamples - half) / half;
                    const double y = (half - (py + (sy + 0.5) / kSamples)) / half;
                    const Rgba c = shape(x, y);
                    r += c.r * c.a;
                    g += c.g * c.a;
                    b += c.b * c.a;
                    a += c.a;
                }
            }
            const double n = kSamples * kSamples;
            uint8_t* out = &atlas[(static_cast<size_t>(top + py) * kAtlasWidth + static_cast<size_t>(left + px)) * 4];
            const auto byte = [](double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
            if (a > 0) {
                out[0] = byte(r / a);
                out[1] = byte(g / a);
                out[2] = byte(b / a);
            }
            out[3] = byte(a / n);
        }
    }
}

} // namespace

std::vector<uint8_t> DrawButtonsAtlas()
{
    std::vector<uint8_t> atlas(static_cast<size_t>(kAtlasWidth) * kAtlasHeight * 4, 0);
    for (const KnobImages& knob : {kTinyKnob, kSmallKnob, kBigKnob}) {
        DrawImage(atlas, knob.faceLeft, knob.faceTop, knob.side, FaceImage);
        DrawImage(atlas, knob.arcLeft, knob.arcTop, knob.side, ArcImage);
    }
    return atlas;
}

bool WriteRgbaPng(const std::string& path, const std::vector<uint8_t>& rgba, int width, int height)
{
    if (rgba.size() != static_cast<size_t>(width) * height * 4)
        return false;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = false;
    if (png && info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                     PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int row = 0; row < height; ++row)
            png_write_row(png, rgba.data() + static_cast<size_t>(row) * width * 4);
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && ok;
}

} // namespace corvane::tools
