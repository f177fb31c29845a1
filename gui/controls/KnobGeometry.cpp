#include "gui/controls/KnobGeometry.h"

#include <cmath>

namespace QZ::geometry {

namespace {

constexpr float kQuarterPi = kPi / 4.0f;
// The arc image starts at the bottom edge point (tan(-0.63539815), -1) and
// ends this far short of the sweep's remaining angle, so the arc meets the
// face's pointer strip.
constexpr float kArcStartTan = -0.7374138f; // tan(-0.63539815)
constexpr float kArcEndOffset = 0.9353982f;

struct Local {
    float x, y;
};

} // namespace

ArcAtlas MakeArcAtlas(float faceLeft, float faceTop, float side, float arcLeft, float arcTop, float atlasWidth,
                      float atlasHeight)
{
    ArcAtlas atlas;
    if (!(atlasWidth > 0) || !(atlasHeight > 0))
        return atlas;
    const float half = side / 2.0f;
    atlas.faceU = (faceLeft + half) / atlasWidth;
    atlas.faceV = (faceTop + half) / atlasHeight;
    atlas.halfU = half / atlasWidth;
    atlas.halfV = half / atlasHeight;
    atlas.arcU = (arcLeft + half) / atlasWidth;
    atlas.arcV = (arcTop + half) / atlasHeight;
    return atlas;
}

void BuildArcKnob(float theta, float cx, float cy, float r, const ArcAtlas& atlas, TexturedPoint* out)
{
    if (!(theta > 0))
        theta = 0; // also not a number
    if (theta > kArcSweep)
        theta = kArcSweep;

    // Face: the swept sector of the unit square, counter-clockwise from a
    // thin strip under the local x axis (the pointer) to direction theta.
    Local border, corner;
    if (theta <= kQuarterPi) {
        border = {1, std::tan(theta)};
        corner = {1, border.y};
    } else if (theta <= 3 * kQuarterPi) {
        border = {std::tan(kPi / 2 - theta), 1};
        corner = {border.x, 1};
    } else if (theta <= 5 * kQuarterPi) {
        border = {-1, std::tan(kPi - theta)};
        corner = {-1, 1};
    } else {
        border = {-std::tan(3 * kPi / 2 - theta), -1};
        corner = {-1, 1};
    }
    const float strip = r > 0 ? -(18.0f * atlas.halfV) / r : 0.0f;
    const Local origin{0, 0};
    const Local face[kArcFaceVertices] = {
        origin, {corner.x, border.y}, border,             //
        origin, corner,               {corner.x, border.y}, //
        origin, {1, corner.y},        corner,             //
        origin, {1, strip},           {1, corner.y},      //
        origin, {0, strip},           {1, strip},
    };
    // Turned so that local direction theta lies at the sweep's start.
    const float alpha = -3 * kQuarterPi - theta;
    const float c = std::cos(alpha), s = std::sin(alpha);
    for (int i = 0; i < kArcFaceVertices; ++i) {
        const Local p = face[i];
        out[i] = {atlas.faceU + atlas.halfU * p.x, atlas.faceV - atlas.halfV * p.y, cx + r * (p.x * c - p.y * s),
                  cy + r * (p.y * c + p.x * s)};
    }

    // Arc: unturned, from the bottom edge counter-clockwise to the angle
    // psi that the sweep has still to come.
    const float psi = (3 * kPi / 2 - theta) - kArcEndOffset;
    const Local start{kArcStartTan, -1};
    Local k1, k2, k3, end;
    if (psi <= -kQuarterPi) {
        end = {std::tan(psi + kPi / 2), -1};
        k1 = k2 = k3 = end;
    } else if (psi <= kQuarterPi) {
        k1 = {1, -1};
        end = {1, std::tan(psi)};
        k2 = k3 = end;
    } else if (psi <= 3 * kQuarterPi) {
        k1 = {1, -1};
        k2 = {1, 1};
        end = {-std::tan(psi + kPi / 2), 1};
        k3 = end;
    } else {
        k1 = {1, -1};
        k2 = {1, 1};
        k3 = {-1, 1};
        end = {-1, -std::tan(psi)};
    }
    const Local arc[kArcTrackVertices] = {origin, start, k1, origin, k1, k2, origin, k2, k3, origin, k3, end};
    for (int i = 0; i < kArcTrackVertices; ++i) {
        const Local p = arc[i];
        out[kArcFaceVertices + i] = {atlas.arcU + atlas.halfU * p.x, atlas.arcV - atlas.halfV * p.y, cx + r * p.x,
                                     cy + r * p.y};
    }
}

namespace {
// Corner k: x = -1 when bit 1 of k + 1 is set, y = -1 when bit 1 of k is.
Local SpinCorner(int k)
{
    return {((k + 1) & 2) ? -1.0f : 1.0f, (k & 2) ? -1.0f : 1.0f};
}
} // namespace

void BuildSpinKnobTexture(float left, float top, float side, float width, float height, SpinQuad& quad)
{
    for (int k = 0; k < 4; ++k) {
        const Local p = SpinCorner(k);
        TexturedPoint& v = quad.corner[k];
        v.u = width > 0 ? (p.x + 1) / 2 * side / width + left / width : 0;
        v.v = height > 0 ? (1 - p.y) / 2 * side / height + top / height : 0;
    }
}

void BuildSpinKnobPositions(float theta, float cx, float cy, float r, SpinQuad& quad)
{
    const float c = std::cos(theta), s = std::sin(theta);
    for (int k = 0; k < 4; ++k) {
        const Local p = SpinCorner(k);
        quad.corner[k].x = cx + r * p.y * s + r * p.x * c;
        quad.corner[k].y = cy + r * p.y * c - r * p.x * s;
    }
    quad.normalX = c;
    quad.normalY = s;
}

namespace {
// Position and texture offsets and normals of the four thumb vertices.
constexpr float kThumbSign[4][2] = {{1, 1}, {1, -1}, {-1, -1}, {-1, 1}};
constexpr float kThumbNormal[4][3] = {{1, -1, 0}, {1, 1, 0}, {-1, 1, 0}, {-1, -1, 0}};
} // namespace

void BuildThumbTexture(float tcx, float tcy, float hw, float hh, float width, float height, ThumbQuad& quad)
{
    for (int k = 0; k < 4; ++k) {
        quad.corner[k].u = width > 0 ? (tcx + kThumbSign[k][0] * hw) / width : 0;
        quad.corner[k].v = height > 0 ? (tcy + kThumbSign[k][1] * hh) / height : 0;
        for (int i = 0; i < 3; ++i)
            quad.normal[k][i] = kThumbNormal[k][i];
    }
}

void BuildThumbPositions(float x, float y, float hw, float hh, ThumbQuad& quad)
{
    for (int k = 0; k < 4; ++k) {
        quad.corner[k].x = x + kThumbSign[k][0] * hw;
        quad.corner[k].y = y + kThumbSign[k][1] * hh;
    }
}

float SnapToWholeValue(float n, float minimum, float maximum)
{
    const float range = maximum - minimum;
    if (range == 0.0f || !std::isfinite(range))
        return n;
    return (std::floor(range * n + minimum + 0.5f) - minimum) / range;
}

} // namespace QZ::geometry
