#include "gui/displays/StepEditorGeometry.h"

#include <algorithm>
#include <cmath>

#include "framework/StepSequenceRange.h"
#include "gui/displays/DisplayMath.h"

namespace QZ::stepeditor {

namespace {

// Grid colours by the 1-based number of the step left of a line: bars and
// beats stand out from single steps.
constexpr uint8_t kGridBar[4] = {96, 32, 32, 255};   // divisible by 4
constexpr uint8_t kGridThird[4] = {32, 64, 32, 255}; // else divisible by 3
constexpr uint8_t kGridStep[4] = {48, 48, 48, 255};

GridVertex Vertex(const uint8_t (&rgba)[4], float x, float y)
{
    return GridVertex{{rgba[0], rgba[1], rgba[2], rgba[3]}, x, y};
}

} // namespace

StepView ViewOf(const float settings[kSettingCount])
{
    const StepSequenceRange range =
        StepSequenceRangeOf(settings[kStartStep], std::trunc(settings[kLengthMode]) != 0.0f,
                            settings[kLengthInSteps], settings[kEndStep], kStepCount);
    StepView view;
    view.first = range.first;
    view.count = range.count;
    view.bipolar = std::trunc(settings[kRangeMode]) != 0.0f;
    view.interpolate = std::trunc(settings[kInterpolation]) != 0.0f;
    return view;
}

TimeWarp::TimeWarp(float asymmetry)
{
    const float middle = Limit(asymmetry * 0.005f + 0.5f, 0.0f, 1.0f, 0.5f);
    secondHalf = middle >= 1.0f ? 0.0f : (1.0f - middle) * 2.0f;
    firstHalf = middle > 0.0f ? middle * 2.0f : 0.0f;
}

float TimeWarp::operator()(float t) const
{
    return t >= 0.5f ? t * secondHalf + (1.0f - secondHalf) : t * firstHalf;
}

void BuildStepGeometry(const float steps[kStepCount], const float settings[kSettingCount], float width,
                       StepGeometry& out)
{
    out.bars.clear();
    out.curve.clear();
    out.grid.clear();
    const StepView view = ViewOf(settings);
    const float w = Limit(width, 0.0f, 1e6f, 0.0f);
    const float bottom = view.Bottom();
    const float offset = Finite(settings[kOffset], 0.0f);
    const float multiplier = Finite(settings[kMultiplier], 1.0f);
    const TimeWarp warp(settings[kAsymmetry]);
    const int32_t n = view.count;
    const float d = 1.0f / static_cast<float>(n);
    const auto curveValue = [&](float v) { return Limit(v * multiplier + offset, bottom, 1.0f, bottom); };

    float previous = 0;
    for (int32_t i = 0; i < n; ++i) {
        const float v = Finite(steps[view.first + i], 0.0f);
        const float x = warp(static_cast<float>(i) * d) * w;
        const float y = curveValue(v);
        if (!view.interpolate && i >= 1)
            out.curve.push_back({x, previous}); // the held step jumps here
        out.curve.push_back({x, y});
        previous = y;

        // Bars show the raw step value, on the unwarped time axis.
        const float top = Limit(v, bottom, 1.0f, bottom);
        const float left = static_cast<float>(i) * d * w;
        const float right = static_cast<float>(i + 1) * d * w;
        out.bars.insert(out.bars.end(), {{left, top}, {left, 0.0f}, {right, 0.0f}, {right, top}});
    }
    // Closed at the right edge: a linear curve runs back to the first step's
    // value, a staircase holds its last step to the end.
    out.curve.push_back({w, view.interpolate ? curveValue(Finite(steps[view.first], 0.0f)) : previous});

    for (int32_t k = 1; k < n; ++k) {
        const int32_t s = view.first + k;
        const uint8_t(&rgba)[4] = s % 4 == 0 ? kGridBar : (s % 3 == 0 ? kGridThird : kGridStep);
        const float x = static_cast<float>(k) * d * w;
        out.grid.push_back(Vertex(rgba, x, bottom));
        out.grid.push_back(Vertex(rgba, x, 1.0f));
    }
    out.grid.push_back(Vertex(kGridStep, 0.0f, 0.0f));
    out.grid.push_back(Vertex(kGridStep, w, 0.0f));
}

bool MarkerSpan(float stepPosition, const StepView& view, float width, float& left, float& right)
{
    if (!std::isfinite(stepPosition) || !(width > 0.0f))
        return false;
    const float column = width / static_cast<float>(view.count);
    const float shown = stepPosition - static_cast<float>(view.first);
    if (shown < 0.0f || shown >= static_cast<float>(view.count))
        return false;
    const float x = shown * column;
    left = view.interpolate ? x - 2.0f : x;
    right = view.interpolate ? x + 2.0f : x + column;
    left = std::clamp(left, 0.0f, width);
    right = std::clamp(right, 0.0f, width);
    return true;
}

bool ColumnOf(int32_t step, const StepView& view, float width, float& left, float& right)
{
    const int32_t shown = step - view.first;
    if (shown < 0 || shown >= view.count || !(width > 0.0f))
        return false;
    const float column = width / static_cast<float>(view.count);
    left = static_cast<float>(shown) * column;
    right = left + column;
    return true;
}

StepPick PickStep(const Point& point, const Box& box, const StepView& view)
{
    const float w = box.x1 - box.x0;
    const float h = box.y1 - box.y0;
    const float fx = w > 0.0f ? Limit((point.x - box.x0) / w, 0.0f, 1.0f, 0.0f) : 0.0f;
    float fy = h > 0.0f ? Limit((point.y - box.y0) / h, 0.0f, 1.0f, 0.0f) : 0.0f;
    if (view.bipolar)
        fy = fy * 2.0f - 1.0f;
    const auto column = static_cast<int32_t>(static_cast<float>(view.count) * fx);
    return StepPick{std::min(view.count - 1, column) + view.first, fy};
}

StepSpan DragSpan(int32_t last, int32_t now)
{
    return now < last ? StepSpan{now, last - 1} : StepSpan{last, now};
}

float FineValue(float pressValue, float pressY, float y, const StepView& view)
{
    return Limit(pressValue + (y - pressY) * 0.0005f, view.Bottom(), 1.0f, view.Bottom());
}

} // namespace QZ::stepeditor
