// QZ::StepEditor: one channel of the Step LFO, drawn and edited. It shows
// the shown range of the 96 step values as bars, the LFO's output curve over
// one cycle (offset, multiplier, asymmetry, range and interpolation applied),
// a grid, and a marker at the step the plug-in plays. Drawing with the mouse
// sets step values: every step between two pointer events is set, so a fast
// drag leaves no gap; Ctrl keeps editing the pressed step, Shift moves the
// pressed step's value finely, Alt resets to the default.
//
// Each of the 96 steps also has a hidden element, a RegionReceiver, so that
// hovering a step shows its parameter. The receivers are registered with the
// manager, which owns and deletes them with the other elements; they belong
// to no group.
//
// Threads. The UI thread makes the editor, sets its colours and drags; the
// render thread runs Update (which reads the plug-in's values) and Draw; the
// audio thread plays the step values from the plug-in's program. The hand-
// over never tears a value and never blocks:
// - step values reach the plug-in through SetParameterValue, whose program
//   stores each value as one atomic word that the audio thread reads;
// - the editor's kept copies are atomic words: a drag stores the new value at
//   once (so the next frame draws it) and then raises the dirty flag with
//   release order; the render thread takes the flag with acquire order
//   before it rebuilds from the copies;
// - what the pointer needs on the UI thread (shown range, range mode) is one
//   packed atomic word that Update publishes.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "gui/displays/DisplayElement.h"
#include "gui/displays/StepEditorGeometry.h"
#include "gui/toolkit/UIElement.h"

namespace QZ {

class StepEditor : public ControlBase {
public:
    // The Step LFO's parameters of channel c: the nine editor settings from
    // kFirstSetting + kSettingStride c ("Offset" .. "Interpolation"), the
    // 96 steps from kFirstStep + 96 c.
    static constexpr int32_t kFirstSetting = 9;
    static constexpr int32_t kSettingStride = 21;
    static constexpr int32_t kFirstStep = 43;
    // Indicator f32 element kStepPositionElement + c: the plug-in's step
    // position (0-based, fractional while interpolating).
    static constexpr int kStepPositionElement = 26;
    // Height of the marker strip along the top edge.
    static constexpr float kMarkerHeight = 5.0f;

    // A step's hover area: the column of its step in the editor.
    class RegionReceiver : public UIElement {
    public:
        RegionReceiver(Manager* manager, StepEditor* editor, int32_t step);
        void AddToBounds(Box& box) override;
        void MouseDown(const Point& point, uint32_t modifiers, int clicks) override;
        void MouseDrag(const Point& point, uint32_t modifiers) override;
        void MouseEnter() override;
        void MouseLeave() override;
        int32_t Step() const { return step; }

    private:
        StepEditor* editor;
        int32_t step;
    };

    // Lua stepEditor(id, x, y, w, h), channel id 0 (L) or 1 (R); the plug-in
    // must have the Step LFO's parameters. UI thread; null with `error` set
    // otherwise.
    static StepEditor* Create(Manager& manager, int32_t id, float x, float y, float w, float h, std::string& error);

    // UI thread, at any time.
    void SetBackgroundColour(const Colour& colour) { background.Set(colour); }
    void SetFillColour(const Colour& colour) { fill.Set(colour); }
    void SetLineColour(const Colour& colour) { line.Set(colour); }

    // render thread
    void Update() override;
    void Draw() override;
    // The play position moves with the audio: its editor draws every frame.
    bool DrawsLiveData() const override { return true; }

    // UI thread
    void MouseDown(const Point& point, uint32_t modifiers, int clicks) override;
    void MouseDrag(const Point& point, uint32_t modifiers) override;
    // Inside the editor: the receiver of the step under the point.
    UIElement* HitTest(const Point& point) override;
    void SetVisible(bool visible) override;

    // Any thread: what the editor shows, as last read by Update.
    stepeditor::StepView View() const;
    int32_t Channel() const { return channel; }
    RegionReceiver* Receiver(int32_t step) const { return receivers[static_cast<size_t>(step)]; }
    // The parameter index of step `step` (0-based).
    int32_t StepParameter(int32_t step) const { return steps.Record(step).index; }

private:
    StepEditor(Manager* manager, int32_t channel, BoundParameters settings, BoundParameters steps, float x, float y,
               float w, float h);

    static uint32_t Pack(const stepeditor::StepView& view);
    static stepeditor::StepView Unpack(uint32_t packed);
    void Rebuild();
    // UI thread: sets one step (kept copy first, then the plug-in).
    void SetStep(int32_t step, float value);

    int32_t channel;
    BoundParameters settings; // render thread reads
    BoundParameters steps;
    // Kept copies, settings first then steps (see the header comment).
    std::array<std::atomic<float>, stepeditor::kSettingCount + stepeditor::kStepCount> kept{};
    std::atomic<bool> dirty{true};
    std::atomic<uint32_t> packedView;

    SharedColour background{Colour{0, 0, 0, 1}};
    SharedColour fill{Colour{0.5f, 0.5f, 0.5f, 1}};
    SharedColour line{Colour{1, 1, 1, 1}};

    // render thread
    stepeditor::StepGeometry geometry;
    stepeditor::StepView drawnView;

    // UI thread: the press and the drag so far.
    Point pressPoint;
    float pressValue = 0;
    int32_t anchorStep = 0;
    int32_t lastStep = 0;

    std::array<RegionReceiver*, stepeditor::kStepCount> receivers{};
};

} // namespace QZ
