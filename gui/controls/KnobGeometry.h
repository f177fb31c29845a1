// Vertex geometry of the knob and slider renderers as plain functions: no GL,
// so the shapes can be checked without a window.
//
// Window coordinates are pixels with y growing upwards; texture coordinates
// run from 0 at the atlas's left and top edge to 1 at its right and bottom.
#pragma once

#include <cstdint>

namespace QZ::geometry {

constexpr float kPi = 3.14159265358979f;
// The arc knob sweeps 270 degrees: its angle runs from 0 to 3 pi / 2.
constexpr float kArcSweep = 4.712389f;
// The textured knob turns +-135 degrees.
constexpr float kSpinHalfSweep = 2.3561945f;

// The two images of an arc knob in the atlas, in texture coordinates.
struct ArcAtlas {
    float faceU = 0, faceV = 0; // centre of the face image
    float halfU = 0, halfV = 0; // half the side of either image
    float arcU = 0, arcV = 0;   // centre of the arc image
};

// From atlas pixels: the face's and the arc's top-left corners and their
// common side. A zero-sized atlas gives all zeros.
ArcAtlas MakeArcAtlas(float faceLeft, float faceTop, float side, float arcLeft, float arcTop, float atlasWidth,
                      float atlasHeight);

struct TexturedPoint {
    float u, v; // texture
    float x, y; // window pixels
};

// The arc knob is drawn as 33 vertices (11 triangles): the face image turned
// so that the value's direction lies at the start of the sweep, cut to the
// swept sector (5 triangles), then the unturned arc image over the part of
// the sweep still to come (4 triangles); the last 2 triangles stay empty.
constexpr int kArcKnobVertices = 33;
constexpr int kArcFaceVertices = 15;
constexpr int kArcTrackVertices = 12;

// Writes the first kArcFaceVertices + kArcTrackVertices vertices for angle
// theta (radians, held to 0 .. kArcSweep; not a number counts as 0), centre
// (cx, cy) and radius r in window pixels.
void BuildArcKnob(float theta, float cx, float cy, float r, const ArcAtlas& atlas, TexturedPoint* out);

// The turned square of a textured knob: four corners (1,1), (-1,1), (-1,-1),
// (1,-1) of the image at left, top with side `side` in a texture of
// width x height, turned by theta (radians, positive turns clockwise) about
// (cx, cy) with radius r. normalX, normalY: the normal all four share.
struct SpinQuad {
    TexturedPoint corner[4];
    float normalX, normalY;
};
void BuildSpinKnobTexture(float left, float top, float side, float width, float height, SpinQuad& quad);
void BuildSpinKnobPositions(float theta, float cx, float cy, float r, SpinQuad& quad);

// A slider thumb: the square of half extent (hw, hh) around (x, y), showing
// the image around (tcx, tcy) of the same half extent in a texture of
// width x height. Each vertex's normal carries the direction the slider
// shader turns the normal map by.
struct ThumbQuad {
    TexturedPoint corner[4];
    float normal[4][3];
};
void BuildThumbTexture(float tcx, float tcy, float hw, float hh, float width, float height, ThumbQuad& quad);
void BuildThumbPositions(float x, float y, float hw, float hh, ThumbQuad& quad);

// Where a slider's thumb centre goes along its track for normalised value v:
// track start (left or bottom edge) plus v times the travel, less the thumb
// offset (half the thumb's half extent along the track).
inline float ThumbPosition(float v, float trackStart, float travel, float thumbOffset)
{
    return v * travel + trackStart - thumbOffset;
}

// Snaps a normalised value to the nearest whole real value of min .. max
// (Ctrl held while dragging). A range of one value leaves n as it is.
float SnapToWholeValue(float n, float minimum, float maximum);

} // namespace QZ::geometry
