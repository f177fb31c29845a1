// The knob and slider renderers' geometry as plain functions: which part of
// an arc knob shows the turned face and which the fixed arc, where the
// texture coordinates land, and the Ctrl snap.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "gui/controls/DropDowns.h"
#include "gui/controls/KnobGeometry.h"
#include "gui/controls/TextFields.h"
#include "gui/toolkit/Textures.h"
#include "platform/Resources.h"
#include "tools/ButtonsAtlas.h"

using namespace QZ::geometry;

namespace {

constexpr float kCx = 100, kCy = 50, kR = 40;

// Atlas of the small knob in the 256 x 128 atlas.
ArcAtlas SmallAtlas()
{
    return MakeArcAtlas(2, 92, 34, 2, 52, 256, 128);
}

bool InTriangle(const TexturedPoint& a, const TexturedPoint& b, const TexturedPoint& c, float x, float y)
{
    const auto cross = [](float ax, float ay, float bx, float by, float px, float py) {
        return (bx - ax) * (py - ay) - (by - ay) * (px - ax);
    };
    if (std::fabs(cross(a.x, a.y, b.x, b.y, c.x, c.y)) < 1e-3f)
        return false; // an empty triangle covers nothing
    const float d1 = cross(a.x, a.y, b.x, b.y, x, y), d2 = cross(b.x, b.y, c.x, c.y, x, y),
                d3 = cross(c.x, c.y, a.x, a.y, x, y);
    const bool negative = d1 < 0 || d2 < 0 || d3 < 0, positive = d1 > 0 || d2 > 0 || d3 > 0;
    return !(negative && positive);
}

bool Covered(const TexturedPoint* v, int first, int count, float x, float y)
{
    for (int i = first; i < first + count; i += 3)
        if (InTriangle(v[i], v[i + 1], v[i + 2], x, y))
            return true;
    return false;
}

// Screen angle in degrees, 0 to the right, counter-clockwise positive,
// wrapped into (-180, 180].
float Wrap(float degrees)
{
    while (degrees > 180)
        degrees -= 360;
    while (degrees <= -180)
        degrees += 360;
    return degrees;
}

} // namespace

// Over the sweep, a point near the rim shows the face (lit) between the
// start at -135 degrees and the pointer, clockwise, and the arc (unlit) from
// just past the pointer to the end at -45 degrees. Away from the borders,
// no point shows both or neither.
TEST(ArcKnobGeometry, FaceCoversTheSweptSectorAndArcTheRest)
{
    const ArcAtlas atlas = SmallAtlas();
    for (float value : {0.0f, 0.1f, 0.25f, 0.4f, 0.5f, 0.6f, 0.75f, 0.9f, 1.0f}) {
        SCOPED_TRACE(value);
        TexturedPoint v[kArcFaceVertices + kArcTrackVertices];
        BuildArcKnob(value * kArcSweep, kCx, kCy, kR, atlas, v);
        const float swept = value * 270.0f; // degrees clockwise from the start
        for (float along = 0; along <= 270; along += 3) {
            // Margins: the pointer strip and the arc's start are a few
            // degrees wide.
            if (std::fabs(along - swept) < 12 || along < 12)
                continue;
            const float angle = (-135.0f - along) * kPi / 180.0f;
            const float x = kCx + 0.9f * kR * std::cos(angle), y = kCy + 0.9f * kR * std::sin(angle);
            const bool face = Covered(v, 0, kArcFaceVertices, x, y);
            const bool arc = Covered(v, kArcFaceVertices, kArcTrackVertices, x, y);
            EXPECT_EQ(face, along < swept) << "at " << along << " degrees along the sweep";
            EXPECT_EQ(arc, along > swept) << "at " << along << " degrees along the sweep";
        }
    }
}

// The face turns with the value: its local +x axis (the pointer, drawn in
// the atlas just under the face's middle row) points at -135 degrees minus
// the swept angle; texture coordinates stay inside each image.
TEST(ArcKnobGeometry, PointerAndTextureCoordinates)
{
    const ArcAtlas atlas = SmallAtlas();
    EXPECT_NEAR(atlas.faceU, 19.0f / 256, 1e-6);
    EXPECT_NEAR(atlas.faceV, 109.0f / 128, 1e-6);
    EXPECT_NEAR(atlas.arcV, 69.0f / 128, 1e-6);
    EXPECT_NEAR(atlas.halfU, 17.0f / 256, 1e-6);
    for (float value : {0.0f, 0.3f, 0.5f, 0.8f, 1.0f}) {
        SCOPED_TRACE(value);
        TexturedPoint v[kArcFaceVertices + kArcTrackVertices];
        BuildArcKnob(value * kArcSweep, kCx, kCy, kR, atlas, v);
        // Triangle 5 runs O, (0, g), (1, g): the pointer's end is (1, g).
        const TexturedPoint& tip = v[14];
        const float g = -(18.0f * atlas.halfV) / kR;
        const float expected = -135.0f - value * 270.0f + std::atan(g) * 180.0f / kPi;
        EXPECT_NEAR(Wrap(std::atan2(tip.y - kCy, tip.x - kCx) * 180.0f / kPi - expected), 0.0f, 0.05f);
        EXPECT_NEAR(tip.u, atlas.faceU + atlas.halfU, 1e-6);
        for (int i = 0; i < kArcFaceVertices; ++i) {
            EXPECT_LE(std::fabs(v[i].u - atlas.faceU), atlas.halfU * 1.0001f);
            EXPECT_LE(std::fabs(v[i].v - atlas.faceV), atlas.halfV * 1.0001f);
            EXPECT_LE(std::hypot(v[i].x - kCx, v[i].y - kCy), kR * std::sqrt(2.0f) * 1.0001f);
        }
        for (int i = kArcFaceVertices; i < kArcFaceVertices + kArcTrackVertices; ++i) {
            EXPECT_LE(std::fabs(v[i].u - atlas.arcU), atlas.halfU * 1.0001f);
            EXPECT_LE(std::fabs(v[i].v - atlas.arcV), atlas.halfV * 1.0001f);
        }
    }
}

// Values outside the sweep, and not-a-number, draw as its ends.
TEST(ArcKnobGeometry, AnglesOutsideTheSweepAreHeld)
{
    const ArcAtlas atlas = SmallAtlas();
    const struct {
        float given, held;
    } cases[] = {{-1.0f, 0.0f}, {NAN, 0.0f}, {9.0f, kArcSweep}, {INFINITY, kArcSweep}};
    for (const auto& c : cases) {
        TexturedPoint got[kArcFaceVertices + kArcTrackVertices], want[kArcFaceVertices + kArcTrackVertices];
        BuildArcKnob(c.given, kCx, kCy, kR, atlas, got);
        BuildArcKnob(c.held, kCx, kCy, kR, atlas, want);
        for (int i = 0; i < kArcFaceVertices + kArcTrackVertices; ++i) {
            EXPECT_FLOAT_EQ(got[i].x, want[i].x) << c.given;
            EXPECT_FLOAT_EQ(got[i].y, want[i].y) << c.given;
        }
    }
}

TEST(SpinKnobGeometry, CornersTurnClockwiseWithTheAngle)
{
    SpinQuad quad{};
    BuildSpinKnobTexture(16, 32, 64, 256, 128, quad);
    // Corner 0 is (1, 1): the image's top-right corner.
    EXPECT_FLOAT_EQ(quad.corner[0].u, 80.0f / 256);
    EXPECT_FLOAT_EQ(quad.corner[0].v, 32.0f / 128);
    EXPECT_FLOAT_EQ(quad.corner[2].u, 16.0f / 256);
    EXPECT_FLOAT_EQ(quad.corner[2].v, 96.0f / 128);
    BuildSpinKnobPositions(kPi / 2, 0, 0, 10, quad);
    // A quarter turn clockwise takes the top-right corner to bottom-right.
    EXPECT_NEAR(quad.corner[0].x, 10, 1e-4);
    EXPECT_NEAR(quad.corner[0].y, -10, 1e-4);
}

// Whole real values with Ctrl; a single-valued range keeps the value.
TEST(SliderAndKnobSnap, WholeValues)
{
    const struct {
        float n, min, max, snapped;
    } cases[] = {
        {0.34f, 0, 10, 0.3f}, {0.36f, 0, 10, 0.4f}, {0.5f, -5, 5, 0.5f}, {0.04f, 0, 10, 0.0f},
        {0.97f, 1, 10, 1.0f}, {0.5f, 3, 3, 0.5f},   {0.26f, 0, 2, 0.5f},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(SnapToWholeValue(c.n, c.min, c.max), c.snapped, 1e-6) << c.n << " in " << c.min << ".." << c.max;
}

TEST(SliderThumb, TextureAndCornersFollowTheTable)
{
    ThumbQuad quad{};
    BuildThumbTexture(32, 16, 8, 6, 64, 32, quad);
    BuildThumbPositions(100, 50, 8, 6, quad);
    const float want[4][4] = {{108, 56, 40.0f / 64, 22.0f / 32},
                              {108, 44, 40.0f / 64, 10.0f / 32},
                              {92, 44, 24.0f / 64, 10.0f / 32},
                              {92, 56, 24.0f / 64, 22.0f / 32}};
    for (int k = 0; k < 4; ++k) {
        EXPECT_FLOAT_EQ(quad.corner[k].x, want[k][0]) << k;
        EXPECT_FLOAT_EQ(quad.corner[k].y, want[k][1]) << k;
        EXPECT_FLOAT_EQ(quad.corner[k].u, want[k][2]) << k;
        EXPECT_FLOAT_EQ(quad.corner[k].v, want[k][3]) << k;
    }
}

// The module's knob atlas is what our generator draws (regenerate it with
// the buttons_png target after changing the drawing).
TEST(ButtonsAtlas, EmbeddedImageIsTheGeneratorsDrawing)
{
    const auto* resource = corvane::platform::FindResource(257, 120);
    ASSERT_NE(resource, nullptr);
    QZ::DecodedImage image;
    ASSERT_TRUE(QZ::DecodePNG(resource->bytes, resource->size, image));
    ASSERT_EQ(image.width, corvane::tools::kAtlasWidth);
    ASSERT_EQ(image.height, corvane::tools::kAtlasHeight);
    ASSERT_EQ(image.channels, 4);
    const std::vector<uint8_t> drawn = corvane::tools::DrawButtonsAtlas();
    ASSERT_EQ(drawn.size(), image.pixels.size());
    int differing = 0;
    for (size_t i = 0; i < drawn.size(); ++i)
        differing += std::abs(int(drawn[i]) - int(image.pixels[i])) > 1;
    EXPECT_EQ(differing, 0);
    // Every image is transparent in its corners and opaque on its track.
    for (const corvane::tools::KnobImages& knob :
         {corvane::tools::kTinyKnob, corvane::tools::kSmallKnob, corvane::tools::kBigKnob}) {
        for (int left : {knob.faceLeft, knob.arcLeft}) {
            const int top = left == knob.faceLeft ? knob.faceTop : knob.arcTop;
            const auto alpha = [&](int x, int y) { return image.pixels[(size_t(top + y) * 256 + left + x) * 4 + 3]; };
            EXPECT_EQ(alpha(0, 0), 0);
            EXPECT_EQ(alpha(knob.side - 1, knob.side - 1), 0);
            EXPECT_EQ(alpha(knob.side / 2, knob.side / 2 - int(0.865 * knob.side / 2)), 255); // top of the track
        }
    }
}

// Text-field formats from skins reach the C formatter only when they hold
// exactly one floating-point conversion with plain text around it.
TEST(TextFieldFormat, OnlyOneFloatConversionIsAccepted)
{
    const struct {
        const char* format;
        bool safe;
    } cases[] = {
        {"%.2f", true},         {"%f", true},          {"%5.1f Hz", true},     {"gain %+.3e", true},
        {"%g%%", true},         {"%lf", true},         {"%-08.2F", true},      {"", false},
        {"plain text", false},  {"%d", false},         {"%s", false},          {"%n", false},
        {"%.2f %.2f", false},   {"%*.2f", false},      {"%.*f", false},        {"%999f", false},
        {"%.100f", false},      {"%Lf", false},        {"%", false},           {"%.2", false},
        {"%%", false},          {"%f%n", false},       {"%1$f", false},        {"%hhf", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QZ::IsSafeFloatFormat(c.format), c.safe) << c.format;
}

TEST(TextFieldFormat, ArrowKeysStepByTheShownDecimals)
{
    const struct {
        const char* text;
        float step;
    } cases[] = {
        {"12.50", 0.01f}, {"0.25", 0.01f}, {"3", 1},  {"Off", 1},   {"-4.5", 0.1f},
        {"7.", 1},        {"", 1},         {".125", 0.001f}, {"1e3", 1},
    };
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ(QZ::KeyStepForText(c.text), c.step) << c.text;
}

// An open list puts the current item over the control and stays inside the
// window.
TEST(DropDownList, CurrentItemOverTheControlInsideTheWindow)
{
    const struct {
        const char* name;
        float y0, y1;
        int count, current;
        float windowHeight;
        float bottom, height;
    } cases[] = {
        {"middle item over the control", 100, 120, 5, 2, 400, 60, 100},
        {"first item on top", 100, 120, 3, 0, 400, 60, 60},
        {"near the bottom: moved up to 0", 10, 30, 5, 3, 200, 0, 100},
        {"near the top: moved down inside", 70, 90, 4, 3, 100, 20, 80},
        {"a single item", 50, 66, 1, 0, 200, 50, 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QZ::DropDownList list = QZ::PlaceDropDownList(10, c.y0, 110, c.y1, c.count, c.current, c.windowHeight);
        EXPECT_FLOAT_EQ(list.bottom, c.bottom);
        EXPECT_FLOAT_EQ(list.height, c.height);
        EXPECT_FLOAT_EQ(list.x, 10);
        EXPECT_FLOAT_EQ(list.width, 100);
        EXPECT_FLOAT_EQ(list.itemHeight, c.y1 - c.y0);
    }
}
