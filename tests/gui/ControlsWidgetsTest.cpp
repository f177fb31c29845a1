// Sliders, buttons, text fields, drop-downs and labels in a real editor
// window under an X server with Mesa, on the test plug-in built in-process:
// gestures sent as X events, what the plug-in and the host saw, and a
// screenshot of the panel with pixel checks.
#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "gui/controls/Buttons.h"
#include "gui/controls/DropDowns.h"
#include "gui/controls/Knobs.h"
#include "gui/controls/Sliders.h"
#include "gui/controls/TextFields.h"
#include "gui/toolkit/StaticText.h"
#include "tests/gui/ControlsHarness.h"
#include "tests/support/TestSupport.h"
#include "tools/ButtonsAtlas.h"

using namespace corvane::test;

namespace {

// Test plug-in parameters.
constexpr int32_t kLevel = 1;    // -5 .. 5, default 0
constexpr int32_t kChoice = ControlsPlugin::kChoice;
constexpr int32_t kEnabled = 4;  // Boolean
constexpr int32_t kPositive = 5; // 0 .. 10
constexpr int32_t kBeats = 7;    // 0 .. 16, no value names
constexpr int32_t kTime = 8;     // -500 .. 500 ms

constexpr int kWidth = 360, kHeight = 260;

int Row(float y)
{
    return kHeight - 1 - static_cast<int>(y);
}

// A slider thumb (a brushed cap with a grip line) and its normal map, drawn
// here: the horizontal thumb's image is centred at (16, 32) with half
// extents 8 x 20, the vertical one's at (48, 32) with 20 x 8. Only the half
// that lies over the slider (the thumb's centre sits on the track's edge)
// holds the cap.
struct ThumbImages {
    std::string texture, normalMap;
};
ThumbImages WriteThumbImages(const std::string& folder)
{
    constexpr int kSide = 64;
    std::vector<uint8_t> colour(kSide * kSide * 4, 0), normal(kSide * kSide * 4, 0);
    const auto cap = [&](int x0, int y0, int x1, int y1, bool horizontal) {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                uint8_t* c = &colour[(static_cast<size_t>(y) * kSide + x) * 4];
                uint8_t* n = &normal[(static_cast<size_t>(y) * kSide + x) * 4];
                const bool edge = x == x0 || x == x1 || y == y0 || y == y1;
                // Rows of the file run down the screen's y, so the light
                // edge is the last row.
                const float along = horizontal ? static_cast<float>(y - y0) / (y1 - y0)
                                               : static_cast<float>(x - x0) / (x1 - x0);
                const bool grip = horizontal ? x == (x0 + x1) / 2 : y == (y0 + y1) / 2;
                const auto shade = static_cast<uint8_t>(150 + 70 * along);
                c[0] = edge ? 40 : grip ? 60 : shade;
                c[1] = edge ? 40 : grip ? 60 : shade;
                c[2] = edge ? 48 : grip ? 70 : static_cast<uint8_t>(shade + 10 > 255 ? 255 : shade + 10);
                c[3] = 255;
                n[0] = x == x0 ? 60 : x == x1 ? 196 : 128;
                n[1] = y == y0 ? 60 : y == y1 ? 196 : 128;
                n[2] = 255;
                n[3] = 255;
            }
    };
    cap(9, 31, 23, 49, true);   // horizontal: screen -1 .. 17 above the centre
    cap(47, 25, 65 - 1, 39, false); // vertical: screen -1 .. 16 right of the centre
    ThumbImages images{folder + "/thumb.png", folder + "/thumb_normals.png"};
    corvane::tools::WriteRgbaPng(images.texture, colour, kSide, kSide);
    corvane::tools::WriteRgbaPng(images.normalMap, normal, kSide, kSide);
    return images;
}

// The widgets of one panel, as the tests reach them.
struct Panel {
    QZ::TexturedSliderRenderer* sliders = nullptr;
    QZ::TexturedSlider* horizontal = nullptr;
    QZ::TexturedSlider* vertical = nullptr;
    QZ::BrelButton* push = nullptr;
    QZ::BrelStatefulButton* toggle = nullptr;
    QZ::BrelStatefulButton* held = nullptr;
    QZ::CorvButton* enabled = nullptr;
    QZ::BrelPropertyButton* property = nullptr;
    QZ::TextField* positiveField = nullptr;
    QZ::TextField* levelField = nullptr;
    QZ::QJDropDown* choice = nullptr;
    QZ::QJDropDown* unnamed = nullptr;
    QZ::QJDropDown* narrow = nullptr; // "Triangle" is wider than it
    QZ::PropertyTextField* target = nullptr;
    QZ::ArcKnob* time = nullptr;
    QZ::Label* title = nullptr;
    QZ::TextureRecord thumb, normals;
    int pushActions = 0;
    std::vector<bool> heldStates; // the state each action of `held` read
};

void CountPush(QZ::Button*, void* panel)
{
    ++static_cast<Panel*>(panel)->pushActions;
}

void RecordHeldState(QZ::Button* button, void* panel)
{
    static_cast<Panel*>(panel)->heldStates.push_back(static_cast<QZ::StatefulButton*>(button)->State());
}

// The panel every test opens: sliders on top, a row of buttons, two text
// fields, two drop-downs, a property field and a knob.
void BuildPanel(QZ::Manager& m, QZ::Group& root, Panel& p, const ThumbImages& images, QZ::TextureRecord& atlas)
{
    m.SetMainFont(QZ::LoadFirstAvailableFont({{"verdana.ttf", 12}}));
    m.SetLabelFont(QZ::LoadFirstAvailableFont({{"verdana.ttf", 11}}));
    m.SetTextFieldFont(QZ::LoadFirstAvailableFont({{"verdana.ttf", 11}}));
    p.thumb.fileName = images.texture;
    p.normals.fileName = images.normalMap;
    p.sliders = new QZ::TexturedSliderRenderer(&m, &p.thumb, &p.normals);
    m.adoptRenderer(p.sliders);
    const auto add = [&](auto* element) {
        root.AddChild(element);
        return element;
    };
    p.title = add(new QZ::Label(&m, "Positive", 30, 242, 'l'));
    p.horizontal = add(new QZ::TexturedSlider(&m, p.sliders, 16, 32, 8, 20, kPositive, 30, 205, 220, 16, true));
    add(new QZ::Label(&m, "Level", 308, 242, 'c'));
    p.vertical = add(new QZ::TexturedSlider(&m, p.sliders, 48, 32, 20, 8, kLevel, 300, 110, 16, 110, false));
    const int32_t load = m.CommandIdForName("Load a file");
    p.push = add(new QZ::BrelButton(&m, "Load", CountPush, &p, 30, 150, 60, 26, load));
    p.toggle = add(new QZ::BrelStatefulButton(&m, "Triggers", nullptr, nullptr, 96, 150, 60, 26,
                                              m.CommandIdForName("Show triggers"), true));
    p.held = add(new QZ::BrelStatefulButton(&m, "Panic", RecordHeldState, &p, 162, 150, 60, 26,
                                            m.CommandIdForName("Don't Panic"), false));
    p.enabled = add(new QZ::CorvButton(&m, "Enabled", 228, 150, 60, 26, kEnabled));
    p.property = add(new QZ::BrelPropertyButton(&m, "Learn", ControlsPlugin::kByteProperty, 228, 110, 60, 26,
                                                m.CommandIdForName("Activate MIDI learn")));
    add(new QZ::Label(&m, "Positive", 108, 121, 'r'));
    p.positiveField = add(new QZ::TextField(&m, kPositive, 112, 104, 70, 16, "%.2f"));
    add(new QZ::Label(&m, "Level", 108, 97, 'r'));
    p.levelField = add(new QZ::TextField(&m, kLevel, 112, 80, 70, 16, "%.3f"));
    p.choice = add(new QZ::QJDropDown(&m, kChoice, 30, 40, 110, 16));
    p.unnamed = add(new QZ::QJDropDown(&m, kBeats, 150, 40, 60, 16));
    p.narrow = add(new QZ::QJDropDown(&m, kChoice, 200, 80, 40, 16));
    p.target = add(new QZ::PropertyTextField(&m, ControlsPlugin::kTextProperty, "Enter MIDI destination", 30, 12,
                                             180, 18));
    auto* knobs = new QZ::ArcKnobRenderer(&m, &atlas, 2, 92, 34, 2, 52);
    m.adoptRenderer(knobs);
    p.time = add(new QZ::ArcKnob(&m, knobs, kTime, 250, 40, 34));
}

class Widgets : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveDisplay())
            GTEST_SKIP() << "no X server (DISPLAY unset)";
        TakeGestures();
        images = WriteThumbImages(ScreenshotDir());
        harness = std::make_unique<ControlsHarness>(
            kWidth, kHeight, [this](QZ::Manager& m, QZ::Group& root, QZ::TextureRecord& atlas) {
                BuildPanel(m, root, panel, images, atlas);
            });
        ASSERT_TRUE(harness->Open());
        TakeGestures();
    }

    // The window pixel at the centre of an element's box.
    static void Centre(QZ::UIElement* element, int& x, int& y)
    {
        const QZ::Box box = QZ::UIElement::AbsoluteBox(element);
        x = static_cast<int>((box.x0 + box.x1) / 2);
        y = Row((box.y0 + box.y1) / 2);
    }

    // One gesture on `param`: one begin-edit first, one end-edit last,
    // automation between.
    static void ExpectOneGesture(int32_t param)
    {
        const std::vector<GestureCall> calls = TakeGestures();
        ASSERT_GE(calls.size(), 3u);
        EXPECT_EQ(calls.front().opcode, audioMasterBeginEdit);
        EXPECT_EQ(calls.back().opcode, audioMasterEndEdit);
        int begins = 0, ends = 0, automates = 0;
        for (const GestureCall& call : calls) {
            EXPECT_EQ(call.index, param);
            begins += call.opcode == audioMasterBeginEdit;
            ends += call.opcode == audioMasterEndEdit;
            automates += call.opcode == audioMasterAutomate;
        }
        EXPECT_EQ(begins, 1);
        EXPECT_EQ(ends, 1);
        EXPECT_GE(automates, 1);
    }

    bool Reaches(int32_t param, float expected)
    {
        return WaitFor([&] { return std::fabs(harness->Real(param) - expected) < 1e-3f; }, 5000);
    }

    ScopedUserFolders folders{UniquePortBase()};
    ThumbImages images;
    Panel panel;
    std::unique_ptr<ControlsHarness> harness;
};

} // namespace

namespace {

// Where a thumb's centre lies for a value: the values at either end and the
// middle of both sliders (the thumb's centre sits a quarter of its extent
// along the track before the value's point).
TEST_F(Widgets, SliderThumbsFollowTheValue)
{
    struct Case {
        const char* name;
        int32_t param;
        float value;
        float x, y; // thumb centre, window pixels
    } cases[] = {
        {"horizontal at 0", kPositive, 0, 26, 205},     {"horizontal at 0.5", kPositive, 5, 136, 205},
        {"horizontal at 1", kPositive, 10, 246, 205},   {"vertical at 0", kLevel, -5, 300, 106},
        {"vertical at 0.5", kLevel, 0, 300, 161},       {"vertical at 1", kLevel, 5, 300, 216},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        harness->SetReal(c.param, c.value);
        ASSERT_TRUE(harness->Frames(2));
        QZ::TexturedSlider* slider = c.param == kPositive ? panel.horizontal : panel.vertical;
        const QZ::SliderRecord* thumb = panel.sliders->Record(slider->RecordIndex());
        ASSERT_NE(thumb, nullptr);
        EXPECT_FLOAT_EQ(thumb->x, c.x);
        EXPECT_FLOAT_EQ(thumb->y, c.y);
    }
}

struct Gesture {
    const char* name;
    int32_t param;
    float start;
    std::function<void(ControlsHarness&)> act;
    float expected;
};

// Window rows of layout heights (the editor's y grows upwards from 0 at the
// window's bottom edge, one pixel below the last row).
int At(float y)
{
    return kHeight - static_cast<int>(y);
}

TEST_F(Widgets, SliderGestures)
{
    const int row = At(213), middle = 140;
    const Gesture cases[] = {
        {"a press at the middle sets 0.5", kPositive, 2, [&](ControlsHarness& h) { h.Drag(middle, row, 0, 0, 0, 1); },
         5},
        {"the value follows the pointer", kPositive, 2,
         [&](ControlsHarness& h) { h.Drag(middle, row, 44, 30); }, 7},
        {"left of the slider clamps to 0", kPositive, 6,
         [&](ControlsHarness& h) { h.Drag(middle, row, -130, 0); }, 0},
        {"shift moves 0.0005 per pixel from the press", kPositive, 2,
         [&](ControlsHarness& h) { h.Drag(middle, row, 100, 0, ShiftMask); }, 2.5f},
        {"ctrl snaps to whole values", kPositive, 0,
         [&](ControlsHarness& h) { h.Drag(103, row, 0, 0, ControlMask, 1); }, 3},
        {"alt resets to the default and holds it", kPositive, 7,
         [&](ControlsHarness& h) { h.Drag(middle, row, 60, 0, Mod1Mask); }, 0},
        {"a vertical slider follows up", kLevel, 0, [&](ControlsHarness& h) { h.Drag(308, At(165), 0, -55); }, 5},
        {"a vertical slider follows down", kLevel, 0, [&](ControlsHarness& h) { h.Drag(308, At(165), 0, 33); }, -3},
        {"a wheel notch takes the value 10 pixels above the pointer", kLevel, -4,
         [&](ControlsHarness& h) { h.Wheel(308, At(165), true); }, -5 + 10 * 65 / 110.0f},
        {"shift and the wheel move a vertical slider by 0.005", kLevel, 0,
         [&](ControlsHarness& h) { h.Wheel(308, At(120), true, ShiftMask); }, 0.05f},
        {"shift and the wheel leave a horizontal slider", kPositive, 2,
         [&](ControlsHarness& h) { h.Wheel(middle, row, true, ShiftMask); }, 2},
    };
    for (const Gesture& c : cases) {
        SCOPED_TRACE(c.name);
        harness->SetReal(c.param, c.start);
        ASSERT_TRUE(harness->Frames(1));
        TakeGestures();
        c.act(*harness);
        EXPECT_TRUE(Reaches(c.param, c.expected)) << "value " << harness->Real(c.param);
        ExpectOneGesture(c.param);
    }
}

// Keys typed into a field after a click on it: the click's own gesture is
// taken first, then what the keys sent.
struct Typing {
    const char* name;
    bool levelField; // else the Positive field (0 .. 10, "%.2f")
    float start;
    std::vector<unsigned long> keys;
    float expected;
    bool changes = true;
};

TEST_F(Widgets, TextFieldTyping)
{
    // 31 zeros fill the field; the sevens after them are ignored.
    std::vector<unsigned long> pastTheLimit(31, XK_0);
    pastTheLimit.insert(pastTheLimit.end(), {XK_7, XK_7, XK_7, XK_Return});
    const Typing cases[] = {
        {"12.5 Enter clamps to the maximum", false, 3, {XK_1, XK_2, XK_period, XK_5, XK_Return}, 10},
        {"a leading minus: -3 clamps to the minimum", false, 3, {XK_minus, XK_3, XK_Return}, 0},
        {"minus after a digit does nothing", true, 0, {XK_2, XK_minus, XK_Return}, 2},
        {"minus first", true, 0, {XK_minus, XK_3, XK_period, XK_2, XK_Return}, -3.2f},
        {"a second point is ignored", true, 0, {XK_1, XK_period, XK_2, XK_period, XK_5, XK_Return}, 1.25f},
        {"backspace removes the last character", true, 0, {XK_4, XK_7, XK_BackSpace, XK_Return}, 4},
        {"up steps by the shown decimals", false, 3, {XK_Up}, 3.01f},
        {"down after typing steps by the typed decimals", true, 0, {XK_4, XK_period, XK_5, XK_Down}, 4.4f},
        {"right steps a whole number up", true, 1, {XK_2, XK_Right}, 3},
        {"typing without Enter changes nothing", false, 3, {XK_8}, 3, false},
        {"the 32nd character and later are ignored", false, 3, pastTheLimit, 0},
    };
    for (const Typing& c : cases) {
        SCOPED_TRACE(c.name);
        const int32_t param = c.levelField ? kLevel : kPositive;
        QZ::TextField* field = c.levelField ? panel.levelField : panel.positiveField;
        harness->SetReal(param, c.start);
        ASSERT_TRUE(harness->Frames(2));
        int x, y;
        Centre(field, x, y);
        harness->Drag(x, y, 0, 0, 0, 1);
        ASSERT_TRUE(field->HasFocus());
        TakeGestures();
        for (unsigned long key : c.keys)
            harness->Key(key);
        EXPECT_TRUE(Reaches(param, c.expected)) << "value " << harness->Real(param) << ", text " << field->Text();
        if (c.changes) {
            const std::vector<GestureCall> calls = TakeGestures();
            ASSERT_FALSE(calls.empty());
            EXPECT_EQ(calls.front().opcode, audioMasterBeginEdit);
            EXPECT_EQ(calls.back().opcode, audioMasterEndEdit);
        } else {
            EXPECT_TRUE(TakeGestures().empty());
        }
        // A press elsewhere drops whatever is still typed.
        harness->Drag(340, At(20), 0, 0, 0, 1);
        EXPECT_FALSE(field->HasFocus());
        EXPECT_FALSE(field->Editing());
    }
    // The field shows the value in its own format again.
    harness->SetReal(kPositive, 2.5f);
    ASSERT_TRUE(harness->Frames(2));
    EXPECT_EQ(panel.positiveField->Text(), "2.50");
}

// The Choice list has four names; value 1 ("Triangle") puts the list from
// layout y 8 (item 3) to 72 (item 0) over the field at 40 .. 56.
TEST_F(Widgets, DropDownOpensTracksAndSelects)
{
    struct Pick {
        const char* name;
        std::vector<float> path; // layout ys the pointer moves through
        float releaseX, releaseY;
        int32_t highlightedBeforeRelease;
        float expected;
    } cases[] = {
        {"a release on an item selects it", {30, 15}, 85, 15, 3, 3},
        {"tracking up to the first item", {50, 70}, 85, 70, 0, 0},
        {"a release outside changes nothing", {15}, 300, 15, 3, 1},
        {"outside the list the highlight stays", {15, 150}, 85, 150, 3, 1},
    };
    for (const Pick& c : cases) {
        SCOPED_TRACE(c.name);
        harness->SetReal(kChoice, 1);
        ASSERT_TRUE(harness->Frames(1));
        TakeGestures();
        harness->Press(85, At(48));
        ASSERT_TRUE(panel.choice->IsOpen());
        EXPECT_EQ(panel.choice->Highlighted(), 1);
        EXPECT_FLOAT_EQ(panel.choice->List().bottom, 8);
        EXPECT_FLOAT_EQ(panel.choice->List().height, 64);
        for (float y : c.path)
            harness->Move(85, At(y));
        if (c.releaseX != 85)
            harness->Move(static_cast<int>(c.releaseX), At(c.releaseY));
        EXPECT_EQ(panel.choice->Highlighted(), c.highlightedBeforeRelease);
        harness->Release(static_cast<int>(c.releaseX), At(c.releaseY));
        EXPECT_FALSE(panel.choice->IsOpen());
        EXPECT_TRUE(Reaches(kChoice, c.expected)) << "value " << harness->Real(kChoice);
        const std::vector<GestureCall> calls = TakeGestures();
        int automates = 0;
        for (const GestureCall& call : calls)
            automates += call.opcode == audioMasterAutomate;
        EXPECT_EQ(automates, c.expected != 1 ? 1 : 0);
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().opcode, audioMasterEndEdit);
    }
    // A parameter without value names shows an empty field and opens nothing.
    EXPECT_TRUE(panel.unnamed->Items().empty());
    EXPECT_EQ(panel.unnamed->CurrentItem(), -1);
    int x, y;
    Centre(panel.unnamed, x, y);
    harness->Press(x, y);
    EXPECT_FALSE(panel.unnamed->IsOpen());
    harness->Release(x, y);
    EXPECT_TRUE(TakeGestures().empty());
}

// A wheel notch is a press, a 10-pixel drag and a release on whatever lies
// under the pointer: over the Choice field (value 1, item height 16) it
// moves the highlight one item and selects it; over a button it acts.
TEST_F(Widgets, TheWheelPressesDragsAndReleases)
{
    struct Notch {
        const char* name;
        bool up;
        float expected;
    } cases[] = {{"towards the user: the next item", false, 2}, {"away: the item before", true, 0}};
    int x, y;
    Centre(panel.choice, x, y);
    for (const Notch& c : cases) {
        SCOPED_TRACE(c.name);
        harness->SetReal(kChoice, 1);
        ASSERT_TRUE(harness->Frames(1));
        TakeGestures();
        harness->Wheel(x, y, c.up);
        EXPECT_FALSE(panel.choice->IsOpen());
        EXPECT_TRUE(Reaches(kChoice, c.expected)) << "value " << harness->Real(kChoice);
        ExpectOneGesture(kChoice);
    }
    Centre(panel.push, x, y);
    harness->Wheel(x, y, false);
    EXPECT_EQ(panel.pushActions, 1);
}

// Shift pressed mid-drag releases the element with the old mask and
// presses it again with the new one: the drop-down selects the item under
// the pointer and opens again around it, the parameter button flips back;
// each press and release is one gesture of the host's on its own parameter.
TEST_F(Widgets, AModifierChangeMidDragRestartsTheGesture)
{
    struct Restart {
        const char* name;
        int32_t param;
        QZ::UIElement* element;
        float start;
        float dragTo; // layout y, first without and then with Shift
        float expected;
    } cases[] = {
        // Item 2 under y 30 in the list opened at 1, item 3 once it opens at 2.
        {"drop-down", kChoice, panel.choice, 1, 30, 3},
        {"parameter button", kEnabled, panel.enabled, 0, 163, 0},
    };
    for (const Restart& c : cases) {
        SCOPED_TRACE(c.name);
        harness->SetReal(c.param, c.start);
        ASSERT_TRUE(harness->Frames(1));
        TakeGestures();
        int x, y;
        Centre(c.element, x, y);
        harness->Press(x, y);
        harness->Move(x, At(c.dragTo));
        harness->Move(x, At(c.dragTo), ShiftMask | Button1Mask);
        harness->Release(x, At(c.dragTo), ShiftMask);
        EXPECT_TRUE(Reaches(c.param, c.expected)) << "value " << harness->Real(c.param);
        const std::vector<GestureCall> calls = TakeGestures();
        std::vector<int32_t> edges; // begin-edits and end-edits in order, +1 and -1
        for (const GestureCall& call : calls) {
            EXPECT_EQ(call.index, c.param);
            if (call.opcode != audioMasterAutomate)
                edges.push_back(call.opcode == audioMasterBeginEdit ? 1 : -1);
        }
        EXPECT_EQ(edges, (std::vector<int32_t>{1, -1, 1, -1}));
    }
}

// With the floating tooltip on, it sits over the centre of the control
// under the pointer, even after a button (which has a tooltip of its own)
// was hovered. Where it is comes from the frame: the pixels that change when
// the tooltip is switched off.
TEST_F(Widgets, TheFloatingTooltipSitsOnTheHoveredControl)
{
    struct Hover {
        const char* name;
        QZ::UIElement* element;
    } cases[] = {{"knob", panel.time},
                 {"text field", panel.positiveField},
                 {"slider", panel.horizontal},
                 {"drop-down", panel.choice}};
    struct TooltipOff {
        ~TooltipOff() { QZ::Manager::SetFloatingTooltipEnabled(false); }
    } restore;
    for (const Hover& c : cases) {
        SCOPED_TRACE(c.name);
        int x, y;
        Centre(panel.push, x, y);
        harness->Hover(x, y);
        Centre(c.element, x, y);
        harness->Hover(x, y);
        QZ::Manager::SetFloatingTooltipEnabled(true);
        harness->Manager()->RequestRedraw();
        ASSERT_TRUE(harness->Frames(40)); // faded in
        Image shown, hidden;
        ASSERT_TRUE(harness->Capture(shown));
        QZ::Manager::SetFloatingTooltipEnabled(false);
        harness->Manager()->RequestRedraw();
        ASSERT_TRUE(harness->Frames(2));
        ASSERT_TRUE(harness->Capture(hidden));
        int x0 = kWidth, x1 = -1, bottom = -1;
        for (int py = 0; py < kHeight; ++py)
            for (int px = 0; px < kWidth; ++px)
                if (DifferingPixels(shown, hidden, px, py, px + 1, py + 1) > 0) {
                    x0 = std::min(x0, px);
                    x1 = std::max(x1, px);
                    bottom = std::max(bottom, py);
                }
        ASSERT_GE(x1, x0) << "no tooltip drawn";
        // Centred on the control; its bottom edge at the control's middle.
        const QZ::Box box = QZ::UIElement::AbsoluteBox(c.element);
        EXPECT_NEAR((x0 + x1 + 1) / 2.0f, (box.x0 + box.x1) / 2, 1.5f);
        EXPECT_NEAR(static_cast<float>(kHeight - 1 - bottom), (box.y0 + box.y1) / 2, 1.5f);
    }
}

// Texts wider than their place are cut at its edges: a long OSC path in the
// property field (it starts at the field's left edge, the inset from it
// blank), "Triangle" in a drop-down 40 wide (closed and open). A short
// value stays centred in its field. Beside them only the panel's grey;
// inside them, their text.
TEST_F(Widgets, TextsStayInsideTheirBoxes)
{
    static const char kPath[] = "osc.udp://127.0.0.1:9000/obry/lfo/1/OutputPositiveRight";
    harness->SetReal(kChoice, 1);
    enum Place { kAnywhere, kFromTheLeftEdge, kCentred };
    struct Case {
        const char* name;
        QZ::UIElement* element;
        const char* text; // the property field's, or null
        bool open;        // the list, pressed open
        float y0, y1;     // layout rows checked (of the open list: where no neighbour lies beside it)
        int textR, textG, textB;
        Place place;
    } cases[] = {
        {"long path", panel.target, kPath, false, 12, 30, 204, 204, 204, kFromTheLeftEdge},
        {"short value", panel.target, "IAC", false, 12, 30, 204, 204, 204, kCentred},
        {"drop-down", panel.narrow, nullptr, false, 80, 96, 26, 26, 26, kAnywhere},
        {"open list", panel.narrow, nullptr, true, 57, 108, 26, 26, 26, kAnywhere},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.text)
            harness->Plugin().SetPropertyAndNotify(ControlsPlugin::kTextProperty, c.text,
                                                   static_cast<uint32_t>(strlen(c.text) + 1));
        int x, y;
        Centre(c.element, x, y);
        if (c.open)
            harness->Press(x, y);
        ASSERT_TRUE(harness->Frames(3));
        Image image;
        ASSERT_TRUE(harness->Capture(image));
        const QZ::Box box = QZ::UIElement::AbsoluteBox(c.element);
        const int x0 = static_cast<int>(box.x0), x1 = static_cast<int>(box.x1);
        const int top = At(c.y1), bottom = At(c.y0);
        const int beside = 8; // the room to the next widget
        EXPECT_EQ(PixelsOfColour(image, x0 - beside, top, x0, bottom, 102, 102, 102, 6), beside * (bottom - top));
        EXPECT_EQ(PixelsOfColour(image, x1 + 1, top, x1 + 1 + beside, bottom, 102, 102, 102, 6),
                  beside * (bottom - top));
        EXPECT_GT(PixelsOfColour(image, x0, top, x1, bottom, c.textR, c.textG, c.textB, 40), 10);
        // The columns of the box that hold text.
        int first = x1, last = x0 - 1;
        for (int column = x0; column < x1; ++column)
            if (PixelsOfColour(image, column, top, column + 1, bottom, c.textR, c.textG, c.textB, 40) > 0) {
                first = std::min(first, column);
                last = column;
            }
        if (c.place == kFromTheLeftEdge) {
            EXPECT_GE(first, x0 + 2);
            EXPECT_LE(first, x0 + 6);
            EXPECT_GE(last, x1 - 3); // and is cut at the right
        } else if (c.place == kCentred) {
            EXPECT_NEAR(first - x0, x1 - 1 - last, 3);
        }
        if (c.open)
            harness->Release(x, y);
    }
}

TEST_F(Widgets, Buttons)
{
    int x, y;
    // A push button acts on release.
    Centre(panel.push, x, y);
    harness->Press(x, y);
    EXPECT_EQ(panel.pushActions, 0);
    harness->Release(x, y);
    EXPECT_EQ(panel.pushActions, 1);
    // A toggle starts off and flips on every press.
    Centre(panel.toggle, x, y);
    EXPECT_FALSE(panel.toggle->State());
    harness->Drag(x, y, 0, 0, 0, 1);
    EXPECT_TRUE(panel.toggle->State());
    harness->Drag(x, y, 0, 0, 0, 1);
    EXPECT_FALSE(panel.toggle->State());
    // A stateful push button acts on press, reading 0, and is 1 again after.
    Centre(panel.held, x, y);
    harness->Press(x, y);
    EXPECT_EQ(panel.heldStates, std::vector<bool>{false});
    EXPECT_FALSE(panel.held->State());
    harness->Release(x, y);
    EXPECT_TRUE(panel.held->State());
    // A property button writes the flipped byte.
    Centre(panel.property, x, y);
    harness->Drag(x, y, 0, 0, 0, 1);
    EXPECT_EQ(harness->Plugin().Byte(), 1);
    harness->Drag(x, y, 0, 0, 0, 1);
    EXPECT_EQ(harness->Plugin().Byte(), 0);
    // A parameter button flips its parameter inside one gesture.
    Centre(panel.enabled, x, y);
    for (float expected : {1.0f, 0.0f}) {
        TakeGestures();
        harness->Drag(x, y, 0, 0, 0, 1);
        EXPECT_TRUE(Reaches(kEnabled, expected));
        ExpectOneGesture(kEnabled);
    }
    // Hovering a command button shows its text in the readout.
    Centre(panel.push, x, y);
    harness->Hover(x, y);
    EXPECT_TRUE(WaitFor([&] {
        harness->Frames(1);
        return harness->Manager()->TooltipText() == "Load a file";
    }, 5000)) << harness->Manager()->TooltipText();
}

TEST_F(Widgets, PropertyTextFieldFollowsItsProperty)
{
    QZ::StaticText* texts = harness->Manager()->Text();
    ASSERT_GE(panel.target->TextEntry(), 0);
    EXPECT_EQ(texts->EntryText(panel.target->TextEntry()), "Midi Through");
    // Set from another thread, as OSC or a script does.
    std::thread setter([&] {
        static const char kName[] = "IAC Bus 2";
        harness->Plugin().SetPropertyAndNotify(ControlsPlugin::kTextProperty, kName, sizeof kName);
    });
    setter.join();
    EXPECT_EQ(texts->EntryText(panel.target->TextEntry()), "IAC Bus 2");
    EXPECT_EQ(panel.target->ValueText(), "IAC Bus 2");
}

// The panel as a person sees it, with the Choice list open: a PNG in the
// build folder, and checks that each kind of widget was drawn.
TEST_F(Widgets, PanelScreenshot)
{
    harness->SetReal(kPositive, 6.5f);
    harness->SetReal(kLevel, 2);
    harness->SetReal(kEnabled, 1);
    harness->SetReal(kChoice, 2);
    static const uint8_t kOn = 1;
    harness->Plugin().SetPropertyAndNotify(ControlsPlugin::kByteProperty, &kOn, 1);
    int x, y;
    Centre(panel.toggle, x, y);
    harness->Drag(x, y, 0, 0, 0, 1);
    Centre(panel.positiveField, x, y);
    harness->Drag(x, y, 0, 0, 0, 1);
    Centre(panel.choice, x, y);
    harness->Press(x, y);
    harness->Move(x, At(30));
    ASSERT_TRUE(harness->Frames(30)); // the colours have eased
    Image image;
    ASSERT_TRUE(harness->Capture(image));
    EXPECT_TRUE(WritePng(image, ScreenshotDir() + "/controls_panel.png"));
    harness->Release(x, At(30));

    const auto bright = [&](int x0, int y0, int x1, int y1, int above) {
        int n = 0;
        for (int py = y0; py < y1; ++py)
            for (int px = x0; px < x1; ++px) {
                const uint8_t* p = image.At(px, py);
                n += p[0] > above && p[1] > above && p[2] > above;
            }
        return n;
    };
    // The horizontal thumb at 6.5 (centre 169, its cap over the track).
    EXPECT_GT(bright(164, At(218), 175, At(207), 140), 60);
    // The vertical thumb at 2 (centre 300 + 8 across, 183 along), lit from
    // further away: lighter than the panel (102) and the groove.
    EXPECT_GT(bright(303, At(187), 314, At(180), 106), 40);
    // Button labels in light grey on every button of the row.
    for (float left : {30.0f, 96.0f, 162.0f, 228.0f})
        EXPECT_GT(bright(static_cast<int>(left), At(176), static_cast<int>(left) + 60, At(150), 170), 15) << left;
    // The parameter button is on: its rectangle is the on colour.
    EXPECT_GT(PixelsOfColour(image, 229, At(175), 235, At(151), 240, 138, 138, 30), 100);
    // The text field: its light box and dark digits right-aligned.
    EXPECT_GT(PixelsOfColour(image, 112, At(120), 182, At(104), 204, 204, 217, 12), 600);
    EXPECT_GT(PixelsOfColour(image, 150, At(119), 181, At(105), 26, 26, 26, 60), 10);
    // The open list: grey box from layout y 8 to 72 with dark and one white
    // (highlighted) item text.
    EXPECT_GT(PixelsOfColour(image, 31, At(71), 139, At(9), 153, 153, 153, 12), 3000);
    EXPECT_GT(bright(31, At(40), 139, At(24), 235), 8);
    // The property field's text over its dark box.
    EXPECT_GT(bright(60, At(30), 180, At(12), 170), 20);
    // The label's white box with black text.
    EXPECT_GT(PixelsOfColour(image, 30, At(242), 90, At(225), 255, 255, 255, 4), 200);
}

} // namespace
