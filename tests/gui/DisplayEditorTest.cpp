// The plug-ins' displays in real editor windows under an X server with
// Mesa, on real plug-ins built in-process that process audio while their
// editors draw. Each editor is captured twice, before and after its signal
// or settings change, as PNG files in the build folder (for a person to look
// at), and the pixels of the displays whose curves should have moved are
// compared.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "gui/displays/FollowerDisplays.h"
#include "gui/editor/ManagerPlatformBridge.h"
#include "gui/displays/GraphDisplays.h"
#include "gui/displays/StepEditor.h"
#include "gui/displays/TextDisplays.h"
#include "framework/InstanceRegistry.h"
#include "framework/ObryProperties.h"
#include "plugins/learner/ObryCorvaneLearner.h"
#include "plugins/quantizer/ObryCorvaneQuantizer.h"
#include "plugins/follower/ObryCorvaneFollower.h"
#include "plugins/function/ObryCorvaneFunction.h"
#include "plugins/lfo/ObryCorvaneLFO.h"
#include "plugins/steplfo/ObryCorvaneStepLFO.h"
#include "plugins/trigger/ObryCorvaneTrigger.h"
#include "plugins/voicecontroller/ObryCorvaneVoiceController.h"
#include "framework/IndicatorBlock.h"
#include "tests/gui/DisplayHarness.h"
#include "tests/gui/HostWindow.h"
#include "tests/gui/Screenshot.h"
#include "tests/support/TestSupport.h"

using namespace corvane::test;

namespace {

constexpr int kWidth = 520, kHeight = 250;

// Calm colours, as an editor script would set them.
const QZ::Colour kBackground{0.06f, 0.07f, 0.08f, 1};
const QZ::Colour kFill{0.20f, 0.32f, 0.42f, 1};
const QZ::Colour kLine{0.82f, 0.90f, 0.96f, 1};
const QZ::Colour kPeak{0.95f, 0.45f, 0.35f, 1};

// A rectangle in window pixels from the top-left corner, for the captures.
struct Area {
    int x0, y0, x1, y1;
};
// The area of a display placed at (x, y, w, h) with y up from the bottom.
Area AreaOf(float x, float y, float w, float h)
{
    return Area{static_cast<int>(x), kHeight - static_cast<int>(y + h), static_cast<int>(x + w),
                kHeight - static_cast<int>(y)};
}

template <class D>
D* Colour(D* display)
{
    if (!display)
        return nullptr;
    display->SetBackgroundColour(kBackground);
    display->SetFillColour(kFill);
    display->SetLineColour(kLine);
    return display;
}

template <class D>
void Add(QZ::Group& root, D* display, const std::string& error)
{
    ASSERT_TRUE(display) << error;
    root.AddChild(Colour(display));
}

// An editor of plug-in P with two displays side by side, channel 0 and 1.
template <class P, class D>
std::function<std::unique_ptr<DisplayHarness>()> TwoChannels(D* (*create)(QZ::Manager&, int32_t, float, float, float,
                                                                           float, std::string&),
                                                             float y = 20, float h = 210)
{
    return [create, y, h] {
        return DisplayHarness::Make<P>(kWidth, kHeight, [create, y, h](QZ::Manager& m, QZ::Group& root) {
            std::string error;
            for (int id = 0; id < 2; ++id)
                Add(root, create(m, id, 20 + 250 * id, y, 230, h, error), error);
        });
    };
}

struct EditorCase {
    const char* name;
    std::function<std::unique_ptr<DisplayHarness>()> make;
    std::function<void(DisplayHarness&)> before;
    // The change; it may use the window (input) as a person would.
    std::function<void(DisplayHarness&, HostWindow&, Window)> change;
    Area moved;                       // where the curves must have moved
    std::function<void(DisplayHarness&)> check = {}; // what the change did to the plug-in
    int frames = 3; // frames drawn while audio runs, before each capture
    bool filled = true; // the displays fill their area with the background colour
};

void Param(DisplayHarness& h, int32_t index, float value)
{
    h.Plugin().SetParameterValue(index, value, false);
}

// The Quantizer's input steps by one note of its Brink calibration.
constexpr float kBrinkStep = 0.015686275f;

std::unique_ptr<DisplayHarness> MakeLearner()
{
    return DisplayHarness::Make<ObryCorvaneLearner::ObryCorvane>(
        kWidth, kHeight, [](QZ::Manager& m, QZ::Group& root) {
            std::string error;
            auto* display = QZ::LearnerInfoDisplay::Create(m, 10, 10, 500, 230, error);
            ASSERT_TRUE(display) << error;
            root.AddChild(display);
        });
}

std::vector<EditorCase> Cases()
{
    using LFO = ObryCorvaneLFO::ObryCorvane;
    using StepLFO = ObryCorvaneStepLFO::ObryCorvane;
    std::vector<EditorCase> cases;

    cases.push_back({"lfo", TwoChannels<LFO>(&QZ::WaveformDisplay::Create),
                     [](DisplayHarness& h) {
                         Param(h, 9, 1);     // Sine L
                         Param(h, 28, 0.8f); // Square R
                         Param(h, 32, 30);   // Pulse Width R
                         Param(h, 33, 40);   // Asymmetry R
                     },
                     [](DisplayHarness& h, HostWindow&, Window) {
                         Param(h, 9, 0);
                         Param(h, 10, 0.7f); // Triangle L
                         Param(h, 12, 0.3f); // Saw L
                     },
                     AreaOf(20, 20, 230, 210)});

    cases.push_back(
        {"steplfo", TwoChannels<StepLFO>(&QZ::StepEditor::Create),
         [](DisplayHarness& h) {
             const float pattern[8] = {0.8f, 0.2f, -0.4f, 0.5f, -0.9f, 0.1f, 0.6f, -0.2f};
             for (int s = 0; s < 16; ++s) {
                 Param(h, StepLFO::kFirstStep + s, pattern[s % 8]);
                 Param(h, StepLFO::kFirstStep + 96 + s, pattern[(s * 3) % 8] * 0.5f + 0.4f);
             }
             Param(h, StepLFO::kInterpolation + StepLFO::kGroupSize, 1);
             Param(h, StepLFO::kRangeMode + StepLFO::kGroupSize, 0);
             Param(h, StepLFO::kAsymmetry + StepLFO::kGroupSize, 30);
         },
         [](DisplayHarness& h, HostWindow& host, Window child) {
             // Paint across the left editor quickly: from column 2 to column 12
             // near the top, in one motion.
             const int column = 230 / 16;
             host.SendButton(child, true, Button1, 20 + column * 2 + 5, 40, 0, 100);
             host.SendMotion(child, 20 + column * 12 + 5, 45, Button1Mask);
             host.SendButton(child, false, Button1, 20 + column * 12 + 5, 45, Button1Mask, 200);
             h.View().idle();
         },
         AreaOf(20, 20, 230, 210),
         [](DisplayHarness& h) {
             for (int s = 2; s <= 12; ++s)
                 EXPECT_GT(h.Plugin().GetParameterReal(StepLFO::kFirstStep + s), 0.7f) << "step " << s;
         }});

    cases.push_back({"function", TwoChannels<ObryCorvaneFunction::ObryCorvane>(&QZ::FunctionDisplay::Create),
                     [](DisplayHarness& h) {
                         Param(h, 1, 1); // Enable L
                         Param(h, 7, 1); // Enable R
                         Param(h, 8, 2); // Function R: exp2
                         h.SetInput(0, 0, 0.5f);
                     },
                     [](DisplayHarness& h, HostWindow&, Window) {
                         Param(h, 2, 1);     // Function L: log2
                         Param(h, 5, 0.8f);  // Output Scale L
                         h.SetInput(0, 0, -0.4f);
                     },
                     AreaOf(20, 20, 230, 210)});

    cases.push_back({"trigger",
                     [] {
                         return DisplayHarness::Make<ObryCorvaneTrigger::ObryCorvane>(
                             kWidth, kHeight, [](QZ::Manager& m, QZ::Group& root) {
                                 std::string error;
                                 Add(root, QZ::EnvDisplay::Create(m, 0, 20, 20, 480, 210, error), error);
                             },
                             true);
                     },
                     [](DisplayHarness& h) {
                         const float times[5] = {0.3f, 0.4f, 0.5f, 1.0f, 0.8f};
                         for (int i = 0; i < 5; ++i)
                             Param(h, 7 + i, times[i]);
                         Param(h, 12, 1);  // Shape A1: straight
                         Param(h, 15, 0.5f); // Shape R1
                     },
                     [](DisplayHarness& h, HostWindow&, Window) {
                         Param(h, 7, 1.5f);   // Time A1
                         Param(h, 19, 0.3f);  // Sustain
                     },
                     AreaOf(20, 20, 480, 210)});

    cases.push_back({"voicecontroller",
                     [] {
                         return DisplayHarness::Make<ObryCorvaneVoiceController::ObryCorvane>(
                             kWidth, kHeight, [](QZ::Manager& m, QZ::Group& root) {
                                 std::string error;
                                 for (int id = 0; id < 3; ++id)
                                     Add(root, QZ::EnvDisplay::Create(m, id, 20 + 163 * id, 20, 150, 110, error),
                                         error);
                                 Add(root, QZ::CalibrationDisplay::Create(m, 20, 145, 480, 85, error), error);
                             },
                             true);
                     },
                     [](DisplayHarness& h) {
                         for (int e = 0; e < 3; ++e)
                             Param(h, 12 + 14 * e + 3, 0.5f + 0.5f * e); // Time R1 of each
                     },
                     [](DisplayHarness& h, HostWindow&, Window) {
                         Param(h, 12 + 14 + 0, 2.0f);  // Env 2 Time A1
                         Param(h, 12 + 14 + 12, 0.2f); // Env 2 Sustain
                     },
                     AreaOf(183, 20, 150, 110)});

    cases.push_back({"follower",
                     [] {
                         return DisplayHarness::Make<ObryCorvaneFollower::ObryCorvane>(
                             kWidth, kHeight, [](QZ::Manager& m, QZ::Group& root) {
                                 std::string error;
                                 auto* env = QZ::FollowerEnvDisplay::Create(m, 20, 130, 480, 100, error);
                                 Add(root, env, error);
                                 if (env)
                                     env->SetPeakLineColour(kPeak);
                                 Add(root, QZ::FollowerPitchDisplay::Create(m, 20, 20, 480, 100, error), error);
                             });
                     },
                     [](DisplayHarness& h) { h.SetInput(110, 0.25f); },
                     [](DisplayHarness& h, HostWindow&, Window) { h.SetInput(1320, 0.8f); },
                     AreaOf(20, 20, 480, 210), {}, 40});

    using Quantizer = ObryCorvaneQuantizer::ObryCorvane;
    cases.push_back({"quantizer",
                     [] {
                         return DisplayHarness::Make<Quantizer>(kWidth, kHeight, [](QZ::Manager& m, QZ::Group& root) {
                             std::string error;
                             for (int id = 0; id < 2; ++id)
                                 Add(root, QZ::QuantizerInfoDisplay::Create(m, 40 + 240 * id, 100, 200, 40, id, error),
                                     error);
                         });
                     },
                     [](DisplayHarness& h) {
                         const uint8_t one = 1;
                         h.Plugin().SetProperty(kObryProperty_LoadBrinkCalibration, 0, 0, &one, 1);
                         for (int c = 0; c < 2; ++c) {
                             Param(h, Quantizer::ParameterIndex(c, Quantizer::kEnable), 1);
                             Param(h, Quantizer::ParameterIndex(c, Quantizer::kMode), 1);
                         }
                         h.SetInput(0, 0, 12.2f * kBrinkStep); // note 60: C 4
                     },
                     [](DisplayHarness& h, HostWindow&, Window) { h.SetInput(0, 0, 13.2f * kBrinkStep); }, // C#
                     AreaOf(37, 100, 446, 60),
                     [](DisplayHarness& h) {
                         EXPECT_EQ(ReadIndicator<int32_t>(h.Plugin().GetIndicatorBlock(), Quantizer::kIndicatorNote),
                                   61);
                     },
                     3, false});

    cases.push_back({"follower_info",
                     [] {
                         return DisplayHarness::Make<ObryCorvaneFollower::ObryCorvane>(
                             kWidth, kHeight, [](QZ::Manager& m, QZ::Group& root) {
                                 std::string error;
                                 Add(root, QZ::FollowerInfoDisplay::Create(m, 40, 100, 300, 40, error), error);
                             });
                     },
                     [](DisplayHarness& h) { h.SetInput(220, 0.25f); },
                     [](DisplayHarness& h, HostWindow&, Window) { h.SetInput(440, 0.8f); },
                     AreaOf(40, 100, 300, 40), {}, 40, false});

    cases.push_back({"learner", MakeLearner, [](DisplayHarness&) {},
                     [](DisplayHarness& h, HostWindow&, Window) {
                         InstanceRegistry::SetLearnTarget(&h.Plugin(), ObryCorvaneLearner::ObryCorvane::kSendOSC);
                         SendControlChange(h.Plugin(), 0, 7, 100);
                         SendControlChange(h.Plugin(), 2, 11, 64);
                     },
                     AreaOf(10, 10, 500, 230), {}, 3, false});
    return cases;
}

class DisplayEditors : public ::testing::Test {
protected:
    void SetUp() override { StartInProcessTransport(); }
    ScopedUserFolders folders{UniquePortBase()};
};

// The plug-in processes a few blocks before each of `frames` frames; the
// last frame began after the last block.
bool RunFrames(DisplayHarness& h, int frames)
{
    for (int i = 0; i < frames; ++i) {
        h.Process(4);
        const uint64_t seen = h.Manager()->FramesDrawn();
        if (!WaitFor([&] {
                h.View().idle();
                return h.Manager()->FramesDrawn() >= seen + 2;
            }))
            return false;
    }
    return true;
}

TEST_F(DisplayEditors, CurvesMoveWhenTheSignalChanges)
{
    REQUIRE_DISPLAY();
    for (const EditorCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        auto harness = c.make();
        ASSERT_TRUE(harness);
        HostWindow host(kWidth + 40, kHeight + 40, 0x00FF00);
        ASSERT_TRUE(harness->View().open(host.Handle()));
        const Window child = host.Child();
        ASSERT_NE(child, 0u);

        c.before(*harness);
        ASSERT_TRUE(RunFrames(*harness, c.frames));
        Image first, second;
        ASSERT_TRUE(Capture(host.Connection(), child, first));

        c.change(*harness, host, child);
        ASSERT_TRUE(RunFrames(*harness, c.frames));
        ASSERT_TRUE(Capture(host.Connection(), child, second));
        EXPECT_TRUE(WritePng(first, ScreenshotDir() + "/" + c.name + "_1.png"));
        EXPECT_TRUE(WritePng(second, ScreenshotDir() + "/" + c.name + "_2.png"));

        // The displays cover what they were given, and their curves moved.
        const Area& a = c.moved;
        EXPECT_EQ(PixelsOfColour(first, a.x0, a.y0, a.x1, a.y1, 0, 255, 0, 8), 0);
        EXPECT_GT(DifferingPixels(first, second, a.x0, a.y0, a.x1, a.y1), 100);
        if (c.check)
            c.check(*harness);
        harness->View().close();
    }
}

// Indicator values after bad input: every display keeps drawing, without
// NaN geometry (nothing of the window behind shows through, and the
// displays' backgrounds are still there).
TEST_F(DisplayEditors, BadIndicatorValuesDrawNoGarbage)
{
    REQUIRE_DISPLAY();
    const uint32_t patterns[] = {0x7FC00000u /* NaN */, 0x7F800000u /* inf */, 0xFF800000u /* -inf */,
                                 0x7F7FFFFFu /* huge */, 0xFFFFFFFFu /* NaN, -1 as an integer */, 0x80000000u};
    for (const EditorCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        auto harness = c.make();
        HostWindow host(kWidth + 40, kHeight + 40, 0x00FF00);
        ASSERT_TRUE(harness->View().open(host.Handle()));
        const Window child = host.Child();
        c.before(*harness);
        for (uint32_t pattern : patterns) {
            // The whole block but the flag bytes, as 32-bit words.
            for (int element = 0; element < 34; ++element)
                WriteIndicator<uint32_t>(harness->Plugin().GetIndicatorBlock(), element, pattern);
            const uint64_t seen = harness->Manager()->FramesDrawn();
            ASSERT_TRUE(WaitFor([&] {
                harness->View().idle();
                return harness->Manager()->FramesDrawn() >= seen + 2;
            }));
            Image image;
            ASSERT_TRUE(Capture(host.Connection(), child, image));
            const Area& a = c.moved;
            EXPECT_EQ(PixelsOfColour(image, 0, 0, image.width, image.height, 0, 255, 0, 8), 0) << std::hex << pattern;
            if (c.filled) {
                EXPECT_GT(PixelsOfColour(image, a.x0, a.y0, a.x1, a.y1, 15, 18, 20, 6), (a.x1 - a.x0) * (a.y1 - a.y0) / 4)
                    << std::hex << pattern;
            }
        }
        harness->View().close();
    }
}

} // namespace

namespace {

// The Learner's display reads the instance registry only when something it
// shows changed there, so a frame never waits for the registry's lock (which
// the audio thread takes too) while nothing changes.
TEST_F(DisplayEditors, LearnerDisplayDrawsWhileTheRegistryIsLocked)
{
    REQUIRE_DISPLAY();
    auto harness = MakeLearner();
    HostWindow host(kWidth + 40, kHeight + 40, 0x00FF00);
    ASSERT_TRUE(harness->View().open(host.Handle()));
    QZ::Manager* manager = harness->Manager();
    QZ::LearnerInfoDisplay* display = nullptr;
    for (QZ::UIElement* element : static_cast<QZ::Group*>(manager->Root())->Children())
        if (auto* learner = dynamic_cast<QZ::LearnerInfoDisplay*>(element))
            display = learner;
    ASSERT_TRUE(display);
    EXPECT_TRUE(QZ::LearnerInfoDisplay::AnyExists());
    ASSERT_TRUE(RunFrames(*harness, 2));
    const uint64_t reads = display->RegistryReads();
    EXPECT_GE(reads, 1u);
    {
        // The render thread would stop here if a frame took the lock.
        InstanceRegistry::Lock lock(InstanceRegistry::Mutex());
        const uint64_t seen = manager->FramesDrawn();
        EXPECT_TRUE(WaitFor([&] { return manager->FramesDrawn() >= seen + 4; }));
    }
    EXPECT_EQ(display->RegistryReads(), reads);

    Image before, after;
    ASSERT_TRUE(Capture(host.Connection(), host.Child(), before));
    SendControlChange(harness->Plugin(), 0, 1, 2);
    EXPECT_TRUE(WaitFor([&] {
        harness->View().idle();
        return display->RegistryReads() > reads;
    }));
    ASSERT_TRUE(RunFrames(*harness, 2));
    ASSERT_TRUE(Capture(host.Connection(), host.Child(), after));
    // The new control change shows in the MIDI history rows.
    const Area history = AreaOf(10, 100, 350, 100);
    EXPECT_GT(DifferingPixels(before, after, history.x0, history.y0, history.x1, history.y1), 30);
    harness->View().close();
    harness.reset();
    EXPECT_FALSE(QZ::LearnerInfoDisplay::AnyExists());
}

} // namespace

namespace {

// The step editor's gestures as X delivers them: the modifier keys held
// during a drag reach the editor from the button and motion events' state.
TEST_F(DisplayEditors, StepEditorGesturesThroughTheWindow)
{
    REQUIRE_DISPLAY();
    using StepLFO = ObryCorvaneStepLFO::ObryCorvane;
    constexpr float kX = 20, kY = 20, kW = 480, kH = 210;
    constexpr int kShown = 16; // the default length
    auto column = [](int step) { return static_cast<int>(kX + (step + 0.5f) * kW / kShown); };
    // Window row (from the top) of a value in the bipolar range.
    auto row = [](float value) { return kHeight - static_cast<int>(kY + (value + 1.0f) / 2.0f * kH); };

    const struct {
        const char* name;
        unsigned state;   // X modifier state of the drag
        int from, to;     // steps pressed and released over
        float value;      // pointer height throughout
        int firstSet, lastSet;
        float expected;   // value of the steps firstSet..lastSet afterwards
    } cases[] = {
        {"plain drag leftwards", 0, 12, 4, 0.5f, 4, 12, 0.5f},
        {"ctrl keeps the pressed step", ControlMask, 3, 9, 0.6f, 3, 3, 0.6f},
        {"alt resets to the default", Mod1Mask, 5, 10, 0.8f, 5, 10, 0.0f},
        {"bottom edge is -1", 0, 14, 14, -1.0f, 14, 14, -1.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto harness = DisplayHarness::Make<StepLFO>(kWidth, kHeight, [&](QZ::Manager& m, QZ::Group& root) {
            std::string error;
            Add(root, QZ::StepEditor::Create(m, 0, kX, kY, kW, kH, error), error);
        });
        for (int s = 0; s < kShown; ++s)
            Param(*harness, StepLFO::kFirstStep + s, 0.3f);
        HostWindow host(kWidth, kHeight, 0x00FF00);
        ASSERT_TRUE(harness->View().open(host.Handle()));
        ASSERT_TRUE(RunFrames(*harness, 1));
        const Window child = host.Child();
        host.SendButton(child, true, Button1, column(c.from), row(c.value), c.state, 100);
        host.SendMotion(child, column((c.from + c.to) / 2), row(c.value), c.state | Button1Mask);
        host.SendMotion(child, column(c.to), row(c.value), c.state | Button1Mask);
        host.SendButton(child, false, Button1, column(c.to), row(c.value), c.state | Button1Mask, 200);
        ASSERT_TRUE(RunFrames(*harness, 1));
        for (int s = 0; s < kShown; ++s) {
            const float value = harness->Plugin().GetParameterReal(StepLFO::kFirstStep + s);
            if (s >= c.firstSet && s <= c.lastSet)
                EXPECT_NEAR(value, c.expected, 0.02f) << "step " << s;
            else
                EXPECT_FLOAT_EQ(value, 0.3f) << "step " << s;
        }
        harness->View().close();
    }
}

} // namespace

// While only what the displays show changes (audio running, nothing else
// touched), a frame redraws just their area over the frame before; the
// window then shows what a whole frame shows, pixel for pixel: with the
// displays placed evenly, nearer the window's top (GL counts rows from the
// bottom, X from the top), and right after the window was made larger.
TEST_F(DisplayEditors, AFrameOfTheLiveAreaShowsWhatAWholeFrameShows)
{
    REQUIRE_DISPLAY();
    using LFO = ObryCorvaneLFO::ObryCorvane;
    const struct {
        const char* name;
        float y, h;  // the displays' place
        int resizedWidth; // 0: not resized
    } cases[] = {{"evenly", 20, 210, 0}, {"nearer the top", 80, 150, 0}, {"after a resize", 20, 210, 624}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto h = TwoChannels<LFO>(&QZ::WaveformDisplay::Create, c.y, c.h)();
        ASSERT_TRUE(h);
        HostWindow host(kWidth * 2, kHeight * 2, 0x00FF00);
        ASSERT_TRUE(h->View().open(host.Handle()));
        const Window child = host.Child();
        ASSERT_NE(child, 0u);
        QZ::Manager& manager = *h->Manager();
        Param(*h, 9, 1);     // Sine L
        Param(*h, 11, 0.6f); // Square L
        Param(*h, 27, 1);    // Sine R

        // Passes begun after the last block: the first sees it, the rest see
        // nothing new.
        const auto settle = [&](uint64_t passes) {
            const uint64_t seen = manager.RenderPasses();
            return WaitFor([&] {
                h->View().idle();
                return manager.RenderPasses() >= seen + passes;
            });
        };
        int width = kWidth, height = kHeight;
        if (c.resizedWidth) {
            // As the corner drag resizes: the layout is stretched to the
            // window, the live area with it.
            width = c.resizedWidth;
            height = kHeight * c.resizedWidth / kWidth;
            manager.Bridge()->SetWindowSize(width, height);
            manager.SetWindowSize(width, height);
            manager.SignalRenderEvent(QZ::Manager::kEventSizeChanged);
        }
        // Past the opening and the parameter changes: whole frames until
        // they settle.
        h->Process(4);
        ASSERT_TRUE(settle(QZ::FramePacer::kSettlePasses + 3));
        Image before, live, whole;
        ASSERT_TRUE(Capture(host.Connection(), child, before));

        const uint64_t liveFrames = manager.LiveFramesDrawn();
        const uint64_t frames = manager.FramesDrawn();
        h->Process(6);
        ASSERT_TRUE(settle(3));
        // A pass under way while the blocks ran may have drawn one more.
        const uint64_t drawn = manager.FramesDrawn() - frames;
        EXPECT_GE(drawn, 1u);
        EXPECT_EQ(manager.LiveFramesDrawn() - liveFrames, drawn);
        ASSERT_TRUE(Capture(host.Connection(), child, live));

        // Live frames first: one drawn between the two reads counts as whole.
        const uint64_t livePart = manager.LiveFramesDrawn();
        const uint64_t wholeFrames = manager.FramesDrawn() - livePart;
        manager.RequestRedraw();
        ASSERT_TRUE(settle(3));
        EXPECT_GT(manager.FramesDrawn() - manager.LiveFramesDrawn(), wholeFrames);
        ASSERT_TRUE(Capture(host.Connection(), child, whole));
        const std::string name = std::to_string(&c - cases);
        EXPECT_TRUE(WritePng(live, ScreenshotDir() + "/live_area_" + name + "_live.png"));
        EXPECT_TRUE(WritePng(whole, ScreenshotDir() + "/live_area_" + name + "_whole.png"));

        EXPECT_GT(DifferingPixels(before, live, 0, 0, width, height), 10);
        EXPECT_EQ(DifferingPixels(live, whole, 0, 0, width, height, 0), 0);
        h->View().close();
    }
}
