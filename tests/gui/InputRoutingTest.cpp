// The manager's input routing without a window: hover enter/leave, the
// resize corner and its limits, layout points after a resize, key focus,
// one host edit gesture per parameter press, modifier changes mid-drag, the
// wheel, and the button bases' presses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/InstanceRegistry.h"
#include "gui/controls/Knobs.h"
#include "gui/controls/Renderers.h"
#include "gui/toolkit/Button.h"
#include "gui/toolkit/FramePacer.h"
#include "gui/toolkit/Manager.h"
#include "gui/toolkit/UIElement.h"
#include "tests/framework/TestPlugin.h"
#include "tests/support/TestSupport.h"

namespace {

using Log = std::vector<std::string>;

// A rectangle that writes down what reaches it.
class Recorder : public QZ::ControlBase {
public:
    Recorder(QZ::Manager* manager, Log& log, const char* name, QZ::Box box)
        : ControlBase(manager), log(log), name(name)
    {
        rect = box;
    }
    void MouseDown(const QZ::Point& p, uint32_t modifiers, int) override { Note("down", p, modifiers); }
    void MouseDrag(const QZ::Point& p, uint32_t modifiers) override { Note("drag", p, modifiers); }
    void MouseUp(const QZ::Point& p, uint32_t modifiers) override { Note("up", p, modifiers); }
    void MouseEnter() override { log.push_back(name + " enter"); }
    void MouseLeave() override { log.push_back(name + " leave"); }
    void LoseFocus() override { log.push_back(name + " lose focus"); }

private:
    void Note(const char* what, const QZ::Point& p, uint32_t modifiers)
    {
        char text[64];
        snprintf(text, sizeof text, "%s %s %g,%g m%x", name.c_str(), what, p.x, p.y, modifiers);
        log.push_back(text);
    }
    Log& log;
    std::string name;
};

QZ::Box MakeBox(float x0, float y0, float x1, float y1)
{
    QZ::Box box;
    box.x0 = x0, box.y0 = y0, box.z0 = 0, box.x1 = x1, box.y1 = y1, box.z1 = 0;
    return box;
}

class InputRouting : public ::testing::Test {
protected:
    void SetUp() override
    {
        manager.SetWindowSize(400, 200);
        manager.MakeTitle();
        manager.SetEditCallbacks(
            [](int32_t index, void* self) { static_cast<InputRouting*>(self)->log.push_back("begin " + std::to_string(index)); },
            [](int32_t index, void* self) { static_cast<InputRouting*>(self)->log.push_back("end " + std::to_string(index)); },
            this);
        manager.SetMouseCallbacks([](void* self) { static_cast<InputRouting*>(self)->log.push_back("capture"); },
                                  [](void* self) { static_cast<InputRouting*>(self)->log.push_back("release"); },
                                  this);
    }
    Log Take()
    {
        Log taken;
        taken.swap(log);
        return taken;
    }

    corvane::test::ScopedUserFolders folders;
    corvane::test::TestPlugin plugin;
    QZ::Manager manager{&plugin};
    Log log;
};

TEST_F(InputRouting, TheCornerResizesWithinLimitsAndKeepsTheAspect)
{
    auto* element = new Recorder(&manager, log, "all", MakeBox(0, 0, 400, 200));
    manager.RootGroup()->AddChild(element);
    struct Row {
        float dx, dy; // pointer movement, x right, y down
        int width, height;
    };
    const Row rows[] = {
        {100, 0, 500, 250},    // wider by 100, aspect 2 kept
        {0, 50, 500, 250},     // taller by 50
        {2000, 0, 1024, 512},  // never beyond 1024 x 512
        {0, 2000, 1024, 512},
        {-1000, 0, 240, 120},  // never below the banner and one control
        {0, -1000, 240, 120},
    };
    for (const Row& row : rows) {
        manager.SetWindowSize(400, 200);
        // 10 px left of the right edge, 2 px above the bottom: in the corner.
        manager.MouseDown({390, 2}, 0, 1);
        EXPECT_TRUE(manager.Resizing());
        manager.MouseDrag({390 + row.dx, 2 - row.dy}, 0);
        manager.MouseUp({390 + row.dx, 2 - row.dy}, 0);
        EXPECT_FALSE(manager.Resizing());
        EXPECT_EQ(manager.WindowWidth(), row.width) << row.dx << "," << row.dy;
        EXPECT_EQ(manager.WindowHeight(), row.height) << row.dx << "," << row.dy;
        // The element never saw the press; the mouse was held and let go.
        EXPECT_EQ(Take(), (Log{"capture", "release"}));
    }
}

TEST_F(InputRouting, PointsAreScaledToTheLayoutAfterAResize)
{
    auto* small = new Recorder(&manager, log, "small", MakeBox(90, 40, 110, 60));
    manager.RootGroup()->AddChild(small);
    manager.SetWindowSize(800, 400);
    // The render thread may start after the window was resized (its set-up
    // runs before it looks for a stop): the layout keeps its own size.
    manager.CreateRenderTask();
    ASSERT_TRUE(manager.DestroyRenderTask());
    manager.MouseDown({200, 100}, 0, 1);
    manager.MouseUp({202, 100}, 0);
    EXPECT_EQ(Take(), (Log{"small down 100,50 m0", "capture", "release", "small up 101,50 m0"}));
}

TEST_F(InputRouting, HoverLeavesAControlOnlyOutsideItsBox)
{
    auto* group = new QZ::NamedGroup(&manager, "Group", 10, 10, 10, 10);
    manager.RootGroup()->AddChild(group);
    auto* control = new Recorder(&manager, log, "knob", MakeBox(50, 50, 70, 70));
    group->AddChild(control);
    group->InitGL(); // fixes the frame: 40..80 both ways
    manager.MouseMove({45, 45});   // the group's margin
    manager.MouseMove({60, 60});   // the control
    EXPECT_EQ(Take(), (Log{"knob enter"}));
    EXPECT_EQ(manager.HoveredElements().size(), 2u);
    EXPECT_EQ(manager.LastEntered(), control);
    manager.MouseMove({70, 70});   // its edge: still inside
    EXPECT_TRUE(Take().empty());
    manager.MouseMove({75, 75});   // empty space inside the group
    EXPECT_EQ(Take(), (Log{"knob leave"}));
    EXPECT_EQ(manager.HoveredElements(), std::vector<QZ::UIElement*>{group});
    manager.MouseMove({200, 150}); // outside everything
    EXPECT_TRUE(manager.HoveredElements().empty());
    EXPECT_EQ(manager.LastEntered(), nullptr);
    // The panel itself (the root, as big as the window) is never hovered.
    manager.RootGroup()->SetRectangle(MakeBox(0, 0, 400, 200));
    manager.MouseMove({210, 150});
    EXPECT_TRUE(manager.HoveredElements().empty());
    EXPECT_EQ(manager.LastEntered(), nullptr);
    EXPECT_TRUE(Take().empty());
}

TEST_F(InputRouting, APressOutsideEveryElementClearsFocusAndCapturesNothing)
{
    auto* field = new Recorder(&manager, log, "field", MakeBox(10, 10, 50, 30));
    manager.RootGroup()->AddChild(field);
    manager.SetKeyFocus(field);
    manager.MouseDown({200, 100}, 0, 1);
    manager.MouseDrag({210, 100}, 0);
    manager.MouseUp({210, 100}, 0);
    EXPECT_EQ(Take(), (Log{"field lose focus"}));
    EXPECT_EQ(manager.KeyFocus(), nullptr);
}

TEST_F(InputRouting, OneEditGesturePerParameterPress)
{
    // Parameter 0 as well: "no parameter" is -1, not 0.
    struct Row {
        int32_t pressed, other;
    };
    float x = 0; // each row's control beside the last one's
    for (const Row& row : {Row{2, 5}, Row{0, 5}, Row{2, 0}}) {
        SCOPED_TRACE(std::to_string(row.pressed) + " " + std::to_string(row.other));
        const std::string pressed = std::to_string(row.pressed), other = std::to_string(row.other);
        QZ::ParameterLabelRecord record = manager.ParameterLabels()[static_cast<size_t>(row.pressed)];
        auto* control = new QZ::Control(&manager, record);
        control->SetRectangle(MakeBox(x, 0, x + 50, 50));
        manager.RootGroup()->AddChild(control);

        manager.BeginParameterEdit(row.pressed);
        manager.BeginParameterEdit(row.pressed);
        EXPECT_EQ(Take(), (Log{"begin " + pressed}));
        manager.BeginParameterEdit(row.other); // another parameter ends the first
        EXPECT_EQ(Take(), (Log{"end " + pressed, "begin " + other}));
        uint32_t number = 0;
        int32_t target = -1;
        ASSERT_TRUE(InstanceRegistry::GetLearnTarget(&number, &target));
        EXPECT_EQ(target, row.other);

        manager.MouseDown({x + 10, 10}, 0, 1);
        manager.MouseDrag({x + 12, 10}, 0);
        manager.MouseUp({x + 12, 10}, 0);
        EXPECT_EQ(Take(), (Log{"end " + other, "begin " + pressed, "capture", "release", "end " + pressed}));
        EXPECT_EQ(manager.EditedParameter(), -1);
        x += 60;
    }
}

TEST_F(InputRouting, ModifiersMidDragRestartEveryGesture)
{
    constexpr uint32_t kShift = 0x200;
    auto* knob = new Recorder(&manager, log, "knob", MakeBox(0, 0, 50, 50));
    int actions = 0;
    auto* toggle = new QZ::StatefulButton(
        &manager, "Toggle", [](QZ::Button*, void* count) { ++*static_cast<int*>(count); }, &actions, 100, 0, 50,
        50, -2, true);
    manager.RootGroup()->AddChild(knob);
    manager.RootGroup()->AddChild(toggle);

    manager.MouseDown({10, 10}, 0, 1);
    manager.MouseDrag({10, 12}, kShift);
    manager.MouseDrag({10, 14}, kShift);
    manager.MouseUp({10, 14}, kShift);
    EXPECT_EQ(Take(), (Log{"knob down 10,10 m0", "capture", "knob up 10,12 m0", "knob down 10,12 m200",
                           "knob drag 10,12 m200", "knob drag 10,14 m200", "release", "knob up 10,14 m200"}));

    // A toggle is pressed again by each change: on, off, on.
    manager.MouseDown({110, 10}, 0, 1);
    manager.MouseDrag({112, 10}, kShift);
    manager.MouseDrag({114, 10}, 0);
    manager.MouseUp({114, 10}, 0);
    EXPECT_EQ(actions, 3);
    EXPECT_TRUE(toggle->State());
}

// Knobs of the test plug-in: what a press leaves on its parameter, with a
// modifier change while held, and which knob the edit highlights.
TEST_F(InputRouting, KnobPressesAndTheEditedKnobsHighlight)
{
    constexpr uint32_t kShift = 0x200;
    constexpr int32_t kOffset = 0, kChoice = 3, kEnabled = 4; // 0..100 and 0..3 stepped, Boolean
    QZ::ArcKnobRenderer renderer(&manager, nullptr, 0, 0, 1, 0, 0);
    struct Row {
        const char* name;
        int32_t param;
        float start;
        uint32_t heldModifiers; // after the press, before the release
        float expected;
    };
    const Row rows[] = {
        {"a click flips a Boolean", kEnabled, 1, 0, 0},
        {"a modifier change while held presses it again", kEnabled, 0, kShift, 0},
        {"a click leaves a stepped 0..3 knob", kChoice, 2, 0, 2},
        {"a click leaves a stepped 0..100 knob", kOffset, 30, 0, 30},
    };
    std::vector<QZ::ArcKnob*> knobs;
    for (size_t i = 0; i < std::size(rows); ++i) {
        knobs.push_back(new QZ::ArcKnob(&manager, &renderer, rows[i].param, 60.0f * i, 0, 50));
        manager.RootGroup()->AddChild(knobs.back());
    }
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.name);
        plugin.SetParameterValue(row.param, row.start, false);
        Take();
        const QZ::Point at{60.0f * i + 25, 25};
        manager.MouseDown(at, 0, 1);
        // While held, only the edited parameter's knobs light up.
        for (int frame = 0; frame < 40; ++frame)
            for (QZ::ArcKnob* knob : knobs)
                knob->Update();
        for (size_t k = 0; k < knobs.size(); ++k)
            EXPECT_FLOAT_EQ(knobs[k]->Highlight(), rows[k].param == row.param ? 1.0f : 0.0f) << "knob " << k;
        manager.MouseDrag(at, row.heldModifiers);
        manager.MouseUp(at, row.heldModifiers);
        EXPECT_FLOAT_EQ(plugin.GetParameterReal(row.param), row.expected);
        const std::string param = std::to_string(row.param);
        // A modifier change ends the gesture and begins another.
        if (row.heldModifiers != 0)
            EXPECT_EQ(Take(), (Log{"begin " + param, "capture", "end " + param, "begin " + param, "release",
                                   "end " + param}));
        else
            EXPECT_EQ(Take(), (Log{"begin " + param, "capture", "release", "end " + param}));
        for (int frame = 0; frame < 40; ++frame)
            knobs[i]->Update();
        EXPECT_FLOAT_EQ(knobs[i]->Highlight(), 0.0f);
    }
}

TEST_F(InputRouting, TheWheelActsOnWhateverIsUnderThePointer)
{
    auto* knob = new Recorder(&manager, log, "knob", MakeBox(0, 0, 50, 50));
    int actions = 0;
    auto* calibrate = new QZ::Button(
        &manager, "Calibrate V/oct", [](QZ::Button*, void* count) { ++*static_cast<int*>(count); }, &actions, 100,
        0, 50, 50, -3);
    auto* push = new QZ::StatefulButton(
        &manager, "Push", [](QZ::Button*, void* count) { ++*static_cast<int*>(count); }, &actions, 200, 0, 50, 50,
        -4, false);
    for (QZ::UIElement* element : {static_cast<QZ::UIElement*>(knob), static_cast<QZ::UIElement*>(calibrate),
                                   static_cast<QZ::UIElement*>(push)})
        manager.RootGroup()->AddChild(element);

    manager.MouseWheel({10, 10}, 0, 1);
    manager.MouseWheel({10, 10}, 0, -2);
    // Each button acts once (the plain one on the release, the push one on
    // the press); empty space takes nothing.
    for (float x : {110.0f, 210.0f, 300.0f})
        manager.MouseWheel({x, 10}, 0, 1);
    EXPECT_EQ(actions, 2);
    EXPECT_TRUE(push->State());
    EXPECT_EQ(Take(), (Log{"knob down 10,10 m0", "capture", "knob drag 10,20 m0", "release", "knob up 10,20 m0",
                           "knob down 10,10 m0", "capture", "knob drag 10,-10 m0", "release", "knob up 10,-10 m0",
                           "capture", "release", "capture", "release"}));
    // A notch while the knob is held by a drag starts no second gesture.
    manager.MouseDown({10, 10}, 0, 1);
    manager.MouseWheel({10, 10}, 0, 1);
    manager.MouseUp({10, 12}, 0);
    EXPECT_EQ(Take(), (Log{"knob down 10,10 m0", "capture", "release", "knob up 10,12 m0"}));
}

TEST_F(InputRouting, ButtonBasesPressAndRelease)
{
    struct Seen {
        int actions = 0;
        bool stateInAction = true;
    } seen;
    const QZ::Button::Action record = [](QZ::Button* button, void* context) {
        auto* s = static_cast<Seen*>(context);
        ++s->actions;
        if (auto* stateful = dynamic_cast<QZ::StatefulButton*>(button))
            s->stateInAction = stateful->State();
    };
    auto* plain = new QZ::Button(&manager, "Save", record, &seen, 0, 0, 50, 20, -3);
    auto* push = new QZ::StatefulButton(&manager, "Push", record, &seen, 100, 0, 50, 20, -4, false);
    for (QZ::UIElement* element : {static_cast<QZ::UIElement*>(plain), static_cast<QZ::UIElement*>(push)})
        manager.RootGroup()->AddChild(element);

    // A plain button acts on release, even outside its rectangle.
    manager.MouseDown({10, 10}, 0, 1);
    EXPECT_EQ(seen.actions, 0);
    manager.MouseUp({300, 150}, 0);
    EXPECT_EQ(seen.actions, 1);

    // A push button reads 0 inside its action (on the press) and 1 after.
    EXPECT_TRUE(push->State());
    manager.MouseDown({110, 10}, 0, 1);
    EXPECT_EQ(seen.actions, 2);
    EXPECT_FALSE(seen.stateInAction);
    manager.MouseUp({110, 10}, 0);
    EXPECT_TRUE(push->State());
    EXPECT_EQ(seen.actions, 2);

    // Hovering shows the command text; leaving clears it.
    manager.RegisterCommandNames();
    manager.MouseMove({10, 10});
    EXPECT_EQ(manager.HoveredParameter(), -3);
    EXPECT_EQ(manager.TooltipElement(), plain);
    manager.MouseMove({300, 150});
    EXPECT_EQ(manager.HoveredParameter(), -1);
}

TEST(FramePacer, DrawsWhileSettlingThenNothingUntilAChange)
{
    QZ::FramePacer pacer;
    constexpr uint32_t settle = QZ::FramePacer::kSettlePasses;
    struct Phase {
        bool changed;
        uint32_t passes;
        uint32_t drawn;
    };
    const Phase phases[] = {
        {true, 1, 1},                    // a change draws at once
        {false, settle - 1, settle - 1}, // settling: every pass
        {false, 100, 0},                 // at rest: nothing
        {true, 1, 1},                    // a change: at once again
        {false, 3, 3},
    };
    for (const Phase& phase : phases) {
        uint32_t drawn = 0;
        for (uint32_t i = 0; i < phase.passes; ++i)
            drawn += pacer.Next(phase.changed) ? 1 : 0;
        EXPECT_EQ(drawn, phase.drawn) << phase.changed << " " << phase.passes;
    }
}

TEST(LearnTarget, NoTargetGivesTheBarePaths)
{
    InstanceRegistry::SetLearnTarget(nullptr, -1);
    const QZ::Manager::OSCAddressTexts texts = QZ::Manager::OSCAddressText();
    EXPECT_FALSE(texts.hasTarget);
    EXPECT_EQ(texts.byName, "/obry/");
    EXPECT_EQ(texts.byNumber, "/obry/");
    EXPECT_EQ(texts.nameLine, "");
    EXPECT_EQ(texts.byIndex, "");
}

} // namespace
