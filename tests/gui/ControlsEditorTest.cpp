// The controls in real editor windows under an X server with Mesa, on the
// test plug-in built in-process: gestures sent as X events to the editor's
// window, what the plug-in and the host saw, screenshots into the build
// folder and pixel checks.
#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "gui/controls/Knobs.h"
#include "gui/controls/Renderers.h"
#include "tests/gui/ControlsHarness.h"
#include "tests/support/TestSupport.h"

using namespace corvane::test;

namespace {

// Test plug-in parameters.
constexpr int32_t kLevel = 1;    // -5 .. 5, default 0
constexpr int32_t kEnabled = 4;  // Boolean
constexpr int32_t kPositive = 5; // 0 .. 10
constexpr int32_t kTime = 8;     // -500 .. 500 ms

constexpr int kWidth = 372, kHeight = 240;

// The built-in scripts' three arc renderers on the atlas.
struct KnobRenderers {
    QZ::ArcKnobRenderer* tiny;
    QZ::ArcKnobRenderer* small;
    QZ::ArcKnobRenderer* big;
};
KnobRenderers MakeRenderers(QZ::Manager& m, QZ::TextureRecord& atlas)
{
    KnobRenderers r{new QZ::ArcKnobRenderer(&m, &atlas, 2, 2, 26, 32, 2),
                    new QZ::ArcKnobRenderer(&m, &atlas, 2, 92, 34, 2, 52),
                    new QZ::ArcKnobRenderer(&m, &atlas, 52, 34, 92, 162, 34)};
    m.adoptRenderer(r.tiny);
    m.adoptRenderer(r.small);
    m.adoptRenderer(r.big);
    return r;
}

// Window pixel (from the top-left) of a point given with y up.
int Row(float y)
{
    return kHeight - 1 - static_cast<int>(y);
}

float Brightness(const Image& image, int x, int y)
{
    const uint8_t* p = image.At(x, y);
    return (p[0] + p[1] + p[2]) / 3.0f;
}

bool Amber(const Image& image, int x, int y)
{
    const uint8_t* p = image.At(x, y);
    return p[0] > 170 && p[1] > 80 && p[2] < 110;
}

// A part of an image, each pixel made a square of `factor` pixels: for a
// person to see the small knobs' detail.
Image Zoom(const Image& image, int x0, int y0, int x1, int y1, int factor)
{
    Image zoomed;
    zoomed.width = (x1 - x0) * factor;
    zoomed.height = (y1 - y0) * factor;
    zoomed.rgb.resize(static_cast<size_t>(zoomed.width) * zoomed.height * 3);
    for (int y = 0; y < zoomed.height; ++y)
        for (int x = 0; x < zoomed.width; ++x)
            std::copy_n(image.At(x0 + x / factor, y0 + y / factor), 3,
                        &zoomed.rgb[(static_cast<size_t>(y) * zoomed.width + x) * 3]);
    return zoomed;
}

class Controls : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveDisplay())
            GTEST_SKIP() << "no X server (DISPLAY unset)";
        TakeGestures();
    }
    ScopedUserFolders folders{UniquePortBase()};
};

// Three rows of knobs (tiny, small, big), each at 0, 0.5 and 1: the
// screenshot a person looks at; a knob at 1 is lit where one at 0 is dark.
TEST_F(Controls, KnobsAtEverySize)
{
    const float centres[3] = {70, 186, 302};
    const int32_t params[3] = {kLevel, kPositive, kTime};
    struct Size {
        float side, y;
    } sizes[3] = {{26, 196}, {34, 144}, {92, 24}};
    ControlsHarness h(kWidth, kHeight, [&](QZ::Manager& m, QZ::Group& root, QZ::TextureRecord& atlas) {
        const KnobRenderers r = MakeRenderers(m, atlas);
        QZ::ArcKnobRenderer* renderers[3] = {r.tiny, r.small, r.big};
        for (int s = 0; s < 3; ++s)
            for (int i = 0; i < 3; ++i)
                root.AddChild(new QZ::ArcKnob(&m, renderers[s], params[i], centres[i] - sizes[s].side / 2,
                                              sizes[s].y, sizes[s].side));
    });
    h.SetReal(kLevel, -5);
    h.SetReal(kPositive, 5);
    h.SetReal(kTime, 500);
    ASSERT_TRUE(h.Open());
    ASSERT_TRUE(h.Frames(2));
    Image image;
    ASSERT_TRUE(h.Capture(image));
    EXPECT_TRUE(WritePng(image, ScreenshotDir() + "/knobs.png"));
    EXPECT_TRUE(WritePng(Zoom(image, 0, 0, kWidth, 100, 4), ScreenshotDir() + "/knobs_small_zoomed.png"));

    for (const Size& size : sizes) {
        SCOPED_TRACE(size.side);
        const float r = size.side / 2;
        // Straight up on the track (the middle of the sweep), on the left
        // (a quarter along) and on the right (three quarters along).
        const int top = Row(size.y + size.side - 0.13f * r);
        const int middle = Row(size.y + r);
        for (int i = 0; i < 3; ++i) {
            const int left = static_cast<int>(centres[i] - 0.87f * r), right = static_cast<int>(centres[i] + 0.87f * r);
            const int up = static_cast<int>(centres[i]);
            if (i == 0) { // 0: all of the track is dark
                EXPECT_FALSE(Amber(image, left, middle));
                EXPECT_FALSE(Amber(image, up, top));
                EXPECT_LT(Brightness(image, up, top), 80);
            } else if (i == 1) { // 0.5: lit up to the top
                EXPECT_TRUE(Amber(image, left, middle));
                EXPECT_FALSE(Amber(image, right, middle));
            } else { // 1: all lit
                EXPECT_TRUE(Amber(image, left, middle));
                EXPECT_TRUE(Amber(image, up, top));
                EXPECT_TRUE(Amber(image, right, middle));
            }
        }
    }
}

// One gesture on a knob of the test plug-in and what it must leave.
struct KnobGesture {
    const char* name;
    int32_t param;
    float start;
    std::function<void(ControlsHarness&, int x, int y)> act;
    float expected;
    int gestures = 1; // each: begin-edit, automation, end-edit
};

// Three big knobs side by side: 0 .. 10, -5 .. 5 and a Boolean.
TEST_F(Controls, KnobGestures)
{
    const int32_t params[3] = {kPositive, kLevel, kEnabled};
    ControlsHarness h(kWidth, kHeight, [&](QZ::Manager& m, QZ::Group& root, QZ::TextureRecord& atlas) {
        const KnobRenderers r = MakeRenderers(m, atlas);
        for (int i = 0; i < 3; ++i)
            root.AddChild(new QZ::ArcKnob(&m, r.big, params[i], 20 + 110.0f * i, 100, 92));
    });
    ASSERT_TRUE(h.Open());
    const auto centreOf = [&](int32_t param) {
        for (int i = 0; i < 3; ++i)
            if (params[i] == param)
                return 66 + 110 * i;
        return -1;
    };
    const int y = Row(146);
    const KnobGesture cases[] = {
        {"drag 100 up", kPositive, 3, [](ControlsHarness& c, int x, int y) { c.Drag(x, y, 0, -100); }, 8},
        {"drag 300 up", kPositive, 3, [](ControlsHarness& c, int x, int y) { c.Drag(x, y, 0, -300); }, 10},
        {"drag 40 down", kLevel, 0, [](ControlsHarness& c, int x, int y) { c.Drag(x, y, 0, 40); }, -2},
        {"fine drag 100 up", kPositive, 3,
         [](ControlsHarness& c, int x, int y) { c.Drag(x, y, 0, -100, ShiftMask); }, 3.5f},
        {"ctrl drag 37 up", kPositive, 0,
         [](ControlsHarness& c, int x, int y) { c.Drag(x, y, 0, -37, ControlMask); }, 2},
        {"ctrl drag 53 up", kPositive, 0,
         [](ControlsHarness& c, int x, int y) { c.Drag(x, y, 0, -53, ControlMask); }, 3},
        {"alt double click", kLevel, 3.5f,
         [](ControlsHarness& c, int x, int y) { c.DoubleClick(x, y, Mod1Mask); }, 0, 2},
        {"alt click: default", kPositive, 7,
         [](ControlsHarness& c, int x, int y) { c.Drag(x, y, 0, 0, Mod1Mask, 1); }, 0},
        {"wheel up", kPositive, 3, [](ControlsHarness& c, int x, int y) { c.Wheel(x, y, true); }, 3.5f},
        {"wheel down", kLevel, 0, [](ControlsHarness& c, int x, int y) { c.Wheel(x, y, false); }, -0.5f},
        {"shift wheel up", kPositive, 3,
         [](ControlsHarness& c, int x, int y) { c.Wheel(x, y, true, ShiftMask); }, 3.05f},
        {"wheel flips a Boolean", kEnabled, 0, [](ControlsHarness& c, int x, int y) { c.Wheel(x, y, true); }, 1},
        {"click flips a Boolean", kEnabled, 1,
         [](ControlsHarness& c, int x, int y) { c.Drag(x, y, 0, 0, 0, 1); }, 0},
    };
    for (const KnobGesture& c : cases) {
        SCOPED_TRACE(c.name);
        h.SetReal(c.param, c.start);
        ASSERT_TRUE(h.Frames(1));
        TakeGestures();
        c.act(h, centreOf(c.param), y);
        EXPECT_TRUE(WaitFor([&] { return std::fabs(h.Real(c.param) - c.expected) < 1e-3f; }, 5000))
            << "value " << h.Real(c.param) << ", expected " << c.expected;
        const std::vector<GestureCall> calls = TakeGestures();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.front().opcode, audioMasterBeginEdit);
        EXPECT_EQ(calls.back().opcode, audioMasterEndEdit);
        int begins = 0, ends = 0, automates = 0;
        for (const GestureCall& call : calls) {
            EXPECT_EQ(call.index, c.param);
            begins += call.opcode == audioMasterBeginEdit;
            ends += call.opcode == audioMasterEndEdit;
            automates += call.opcode == audioMasterAutomate;
        }
        EXPECT_EQ(begins, c.gestures);
        EXPECT_EQ(ends, c.gestures);
        EXPECT_GE(automates, 1);
    }
}

} // namespace
