// The step editor on a real Step LFO built in-process, without a window: how
// it is made (and refused), what it shows, and the mouse gestures as the
// manager routes them through the step receivers: drag painting without
// gaps, Ctrl holding the pressed step, Alt resetting, Shift moving finely,
// both ranges, the host notifications and the edit gesture.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "gui/displays/StepEditor.h"
#include "gui/editor/CarbonVSTEditor.h"
#include "gui/toolkit/Manager.h"
#include "gui/toolkit/UIElement.h"
#include "plugins/lfo/ObryCorvaneLFO.h"
#include "plugins/steplfo/ObryCorvaneStepLFO.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

using namespace corvane::test;
using StepLFO = ObryCorvaneStepLFO::ObryCorvane;

namespace {

constexpr uint32_t kAlt = QZ::CarbonVSTEditor::kModifierAlt;
constexpr uint32_t kShift = QZ::CarbonVSTEditor::kModifierShift;
constexpr uint32_t kCtrl = QZ::CarbonVSTEditor::kModifierControl;

// The editor sits at (20, 10), 192 x 105, in a group moved by (5, 7): with
// 16 shown steps a column is 12 pixels wide.
constexpr float kGroupX = 5, kGroupY = 7, kX = 20, kY = 10, kW = 192, kH = 105;

class StepEditorFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        plugin = MakeInProcess<StepLFO>();
        manager = std::make_unique<QZ::Manager>(plugin.get());
        manager->SetWindowSize(400, 200); // the bottom-right corner resizes
        manager->MakeTitle();
        root = new QZ::Group(manager.get());
        group = new QZ::Group(manager.get());
        group->SetOffset(kGroupX, kGroupY);
        root->AddChild(group);
        manager->SetRootElement(root);
    }

    QZ::StepEditor* Make(int32_t channel = 0)
    {
        std::string error;
        QZ::StepEditor* editor = QZ::StepEditor::Create(*manager, channel, kX, kY, kW, kH, error);
        EXPECT_TRUE(editor) << error;
        if (editor)
            group->AddChild(editor);
        return editor;
    }

    // Window point over shown column `column` at `height` (0 bottom .. 1 top).
    static QZ::Point At(float column, float height, int shown = 16)
    {
        return {kGroupX + kX + (column + 0.5f) * kW / static_cast<float>(shown), kGroupY + kY + height * kH};
    }

    float Step(int32_t step, int32_t channel = 0)
    {
        return plugin->GetParameterReal(StepLFO::kFirstStep + StepLFO::kNumSteps * channel + step);
    }

    ScopedUserFolders folders{UniquePortBase()};
    InProcessPlugin<StepLFO> plugin;
    std::unique_ptr<QZ::Manager> manager;
    QZ::Group* root = nullptr;
    QZ::Group* group = nullptr;
};

TEST_F(StepEditorFixture, IsRefusedWithoutAChannelOrAStepSequence)
{
    std::string error;
    EXPECT_EQ(QZ::StepEditor::Create(*manager, 2, 0, 0, 10, 10, error), nullptr);
    EXPECT_EQ(error, "stepEditor id out of range");
    EXPECT_EQ(QZ::StepEditor::Create(*manager, -1, 0, 0, 10, 10, error), nullptr);

    auto lfo = MakeInProcess<ObryCorvaneLFO::ObryCorvane>();
    QZ::Manager lfoManager(lfo.get());
    error.clear();
    EXPECT_EQ(QZ::StepEditor::Create(lfoManager, 0, 0, 0, 10, 10, error), nullptr);
    EXPECT_EQ(error, "stepEditor: the plug-in has no step sequence");
    EXPECT_EQ(lfoManager.ElementCount(), 1u); // its root group, nothing made

    const size_t before = manager->ElementCount();
    ASSERT_TRUE(Make(1));
    EXPECT_EQ(manager->ElementCount(), before + 1 + 96); // the editor and its receivers
}

TEST_F(StepEditorFixture, ShowsTheRangeThePluginPlays)
{
    struct Case {
        float start, lengthMode, length, end;
        int first, count;
    } cases[] = {
        {90, 0, 16, 16, 89, 7}, // capped at step 96
        {10, 1, 16, 5, 9, 1},   // end below start: one step
        {3, 1, 16, 10, 2, 8},
        {1, 0, 96, 16, 0, 96},
    };
    QZ::StepEditor* editors[2] = {Make(0), Make(1)};
    for (const Case& c : cases) {
        for (int32_t channel = 0; channel < 2; ++channel) {
            const int32_t offset = StepLFO::kGroupSize * channel;
            plugin->SetParameterValue(StepLFO::kStartStep + offset, c.start, false);
            plugin->SetParameterValue(StepLFO::kLengthMode + offset, c.lengthMode, false);
            plugin->SetParameterValue(StepLFO::kLengthInSteps + offset, c.length, false);
            plugin->SetParameterValue(StepLFO::kEndStep + offset, c.end, false);
        }
        manager->Update();
        for (QZ::StepEditor* editor : editors) {
            EXPECT_EQ(editor->View().first, c.first) << c.start << " channel " << editor->Channel();
            EXPECT_EQ(editor->View().count, c.count) << c.start << " channel " << editor->Channel();
        }
    }
}

TEST_F(StepEditorFixture, GesturesSetEveryStepTheyCross)
{
    struct Event {
        bool press;
        float column, height;
        uint32_t modifiers;
    };
    struct Case {
        const char* name;
        float rangeMode, startStep;
        float preset; // every step's value before the gesture
        std::vector<Event> events;
        std::vector<std::pair<int, float>> changed; // step (0-based) and value; the rest keep `preset`
        int edited; // the step whose parameter the gesture is on
    } cases[] = {
        {"a fast drag leaves no gap", 1, 1, 0, {{true, 2, 1, 0}, {false, 10, 1, 0}},
         {{2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}, {9, 1}, {10, 1}}, 10},
        {"dragging back to the left", 1, 1, 0, {{true, 9, 0.75f, 0}, {false, 6, 0.75f, 0}, {false, 4, 0.75f, 0}},
         {{4, 0.5f}, {5, 0.5f}, {6, 0.5f}, {7, 0.5f}, {8, 0.5f}, {9, 0.5f}}, 4},
        {"Ctrl keeps the pressed step", 1, 1, 0.3f, {{true, 4, 1, kCtrl}, {false, 9, 0.5f, kCtrl}}, {{4, 0}}, 4},
        {"Alt resets to the default", 1, 1, 0.7f, {{true, 1, 1, kAlt}, {false, 5, 0.2f, kAlt}},
         {{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}}, 5},
        {"bipolar: the bottom edge is -1", 1, 1, 0, {{true, 0, 0, 0}}, {{0, -1}}, 0},
        {"unipolar: the bottom edge is 0", 0, 1, 0.5f, {{true, 0, 0, 0}}, {{0, 0}}, 0},
        {"unipolar: the top edge is 1", 0, 1, 0, {{true, 15, 1, 0}}, {{15, 1}}, 15},
        {"Shift moves the pressed value finely", 1, 1, 0.25f,
         {{true, 3, 0.5f, kShift}, {false, 3, 0.5f + 200 / kH, kShift}}, {{3, 0.35f}}, 3},
        {"Shift stays inside the range", 1, 1, 0.95f,
         {{true, 3, 0.5f, kShift}, {false, 3, 0.5f + 400 / kH, kShift}}, {{3, 1}}, 3},
        {"columns follow the start step", 1, 9, 0, {{true, 0, 1, 0}, {false, 1, 1, 0}}, {{8, 1}, {9, 1}}, 9},
        {"a drag beyond the editor edits the edge steps", 1, 1, 0, {{true, 14, 0.5f, 0}, {false, 40, 3, 0}},
         {{14, 1}, {15, 1}}, 15},
    };
    QZ::StepEditor* editor = Make(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        plugin->SetParameterValue(StepLFO::kRangeMode, c.rangeMode, false);
        plugin->SetParameterValue(StepLFO::kStartStep, c.startStep, false);
        for (int s = 0; s < 96; ++s)
            plugin->SetParameterValue(StepLFO::kFirstStep + s, c.preset, false);
        manager->Update();
        TakeAutomateLog();

        for (const Event& e : c.events) {
            if (e.press)
                manager->MouseDown(At(e.column, e.height), e.modifiers, 1);
            else
                manager->MouseDrag(At(e.column, e.height), e.modifiers);
        }
        EXPECT_EQ(manager->EditedParameter(), StepLFO::kFirstStep + c.edited);
        manager->MouseUp(At(0, 0), 0);

        std::vector<float> expected(96, c.preset);
        for (auto [step, value] : c.changed)
            expected[static_cast<size_t>(step)] = value;
        for (int s = 0; s < 96; ++s)
            EXPECT_NEAR(Step(s), expected[static_cast<size_t>(s)], 1e-5f) << "step " << s;
        // Every step written was told to the host; nothing else was.
        std::vector<int> notified;
        for (const AutomateCall& call : TakeAutomateLog())
            if (notified.empty() || notified.back() != call.index - StepLFO::kFirstStep)
                notified.push_back(call.index - StepLFO::kFirstStep);
        for (auto [step, value] : c.changed)
            EXPECT_NE(std::find(notified.begin(), notified.end(), step), notified.end()) << "step " << step;
        for (int step : notified)
            EXPECT_TRUE(step >= 0 && step < 96) << step;
        EXPECT_EQ(editor->View().first, static_cast<int>(c.startStep) - 1);
    }
    // The right channel's steps were never touched.
    for (int s = 0; s < 96; ++s)
        EXPECT_EQ(Step(s, 1), 0.0f);
}

TEST_F(StepEditorFixture, ReceiversCoverTheirColumnsAndNameTheirStep)
{
    QZ::StepEditor* editor = Make(1);
    plugin->SetParameterValue(StepLFO::kStartStep + StepLFO::kGroupSize, 5, false);
    plugin->SetParameterValue(StepLFO::kLengthInSteps + StepLFO::kGroupSize, 8, false);
    manager->Update();
    for (int column : {0, 3, 7}) {
        // Hit testing sees the point relative to the editor's group.
        const QZ::Point inGroup{kX + (column + 0.5f) * kW / 8, kY + kH / 2};
        QZ::UIElement* hit = root->HitTest({inGroup.x + kGroupX, inGroup.y + kGroupY});
        ASSERT_EQ(hit, editor->Receiver(4 + column)) << column;
        const QZ::Box box = QZ::UIElement::AbsoluteBox(hit);
        EXPECT_FLOAT_EQ(box.x0, kGroupX + kX + column * 24.0f) << column;
        EXPECT_FLOAT_EQ(box.x1, kGroupX + kX + (column + 1) * 24.0f) << column;
        EXPECT_FLOAT_EQ(box.y0, kGroupY + kY);
        EXPECT_FLOAT_EQ(box.y1, kGroupY + kY + kH);
        hit->MouseEnter();
        EXPECT_EQ(manager->HoveredParameter(), StepLFO::kFirstStep + 96 + 4 + column);
        editor->Receiver(0)->MouseLeave(); // another step's leave changes nothing
        EXPECT_EQ(manager->HoveredParameter(), StepLFO::kFirstStep + 96 + 4 + column);
        hit->MouseLeave();
        EXPECT_EQ(manager->HoveredParameter(), -1);
    }
    EXPECT_EQ(root->HitTest({kGroupX + kX - 1, kGroupY + kY + 1}), nullptr);
    // A step that is not shown has no area.
    QZ::Box box;
    editor->Receiver(20)->AddToBounds(box);
    EXPECT_TRUE(box.IsEmpty());
}

} // namespace
