// The step editor's geometry, apart from GL and threads: which steps it
// shows, the bars of the step values, the Step LFO's output curve over one
// cycle (offset, multiplier, range, asymmetry and interpolation applied), the
// grid, the playing-step marker, and which step and value a pointer picks.
//
// Any thread: pure functions of their arguments. Settings and step values may
// come from a restored state and be anything; no result is ever NaN or
// outside the editor's box.
#pragma once

#include <cstdint>
#include <vector>

#include "gui/toolkit/Geometry.h"

namespace QZ::stepeditor {

constexpr int32_t kStepCount = 96;

// A channel's nine editor settings, in the order of their parameters.
enum Setting : int32_t {
    kOffset = 0,
    kMultiplier,
    kAsymmetry,     // percent, -100 .. 100
    kRangeMode,     // nonzero: bipolar, -1 .. 1; zero: unipolar, 0 .. 1
    kLengthMode,    // nonzero: the range ends at "End Step"
    kStartStep,     // 1-based
    kLengthInSteps,
    kEndStep,       // 1-based
    kInterpolation, // nonzero: straight lines between steps
    kSettingCount,
};

// What the settings make of the editor.
struct StepView {
    int32_t first = 0; // 0-based first shown step
    int32_t count = 1; // shown steps, 1 .. 96 - first
    bool bipolar = true;
    bool interpolate = false;

    float Bottom() const { return bipolar ? -1.0f : 0.0f; }
    bool operator==(const StepView&) const = default;
};

StepView ViewOf(const float settings[kSettingCount]);

// Cycle position t (0..1) to the fraction of the width where the curve
// draws it: with asymmetry a, the middle of the cycle lands at
// a x 0.005 + 0.5 (an asymmetry of 100 squeezes the second half into the
// right edge, -100 the first half into the left edge).
class TimeWarp {
public:
    explicit TimeWarp(float asymmetry);
    float operator()(float t) const;

private:
    float firstHalf;  // slope below the middle
    float secondHalf; // slope from the middle on
};

// One grid vertex as GL_C4UB_V2F reads it.
struct GridVertex {
    uint8_t rgba[4];
    float x, y;
};

// Geometry in the editor's value space: x from 0 to the width, y from the
// range's bottom (-1 or 0) to 1.
struct StepGeometry {
    std::vector<Point> bars;       // one quad (4 points) per shown step
    std::vector<Point> curve;      // line strip; at most 2 x 96 points
    std::vector<GridVertex> grid;  // line pairs
};

// Rebuilds `out` (its vectors keep their capacity). steps are the 96 step
// values of the channel.
void BuildStepGeometry(const float steps[kStepCount], const float settings[kSettingCount], float width,
                       StepGeometry& out);

// The playing-step marker from the plug-in's step position (0-based, maybe
// fractional): its left and right edge in pixels from the editor's left edge.
// False when the position is not a number or lies outside the shown steps.
bool MarkerSpan(float stepPosition, const StepView& view, float width, float& left, float& right);

// The column of step `step` (0-based): false when it is not shown.
bool ColumnOf(int32_t step, const StepView& view, float width, float& left, float& right);

// What a pointer at `point` over the box picks: the 0-based step under it
// and the value its height stands for (the whole box height spans the range).
struct StepPick {
    int32_t step = 0;
    float value = 0;
};
StepPick PickStep(const Point& point, const Box& box, const StepView& view);

// A drag from step `last` to step `now` sets every step in between, so that
// a fast pointer leaves no gap: now .. last - 1 when moving down, else
// last .. now.
struct StepSpan {
    int32_t from = 0;
    int32_t to = 0; // inclusive
};
StepSpan DragSpan(int32_t last, int32_t now);

// Shift-drag: the value at the press moved by the pointer's height change,
// limited to the range.
float FineValue(float pressValue, float pressY, float y, const StepView& view);

} // namespace QZ::stepeditor
