#include "gui/controls/Knobs.h"

#include <algorithm>
#include <cmath>

#include "framework/ObryAuBase.h"
#include "framework/ParameterInfo.h"
#include "gui/controls/KnobGeometry.h"
#include "gui/controls/Renderers.h"
#include "gui/editor/CarbonVSTEditor.h"

namespace QZ {

namespace {

constexpr uint32_t kAlt = CarbonVSTEditor::kModifierAlt;
constexpr uint32_t kShift = CarbonVSTEditor::kModifierShift;
constexpr uint32_t kCtrl = CarbonVSTEditor::kModifierControl;
// Relative semitones turn in whole steps on a textured knob.
constexpr uint32_t kUnitRelativeSemiTones = 10;

} // namespace

ParameterLabelRecord LabelRecordFor(Manager* manager, int32_t parameterIndex)
{
    if (manager && parameterIndex >= 0 &&
        static_cast<size_t>(parameterIndex) < manager->ParameterLabels().size())
        return manager->ParameterLabels()[static_cast<size_t>(parameterIndex)];
    ParameterLabelRecord inert;
    inert.index = parameterIndex;
    return inert;
}

// Knob

Knob::Knob(Manager* manager, KnobRendererBase* renderer, int32_t parameterIndex, float x, float y, float size)
    : Control(manager, LabelRecordFor(manager, parameterIndex)), renderer(renderer)
{
    rect = Box{x, y, 0, x + size, y + size, 0};
    if (renderer) {
        recordIndex = renderer->AddRecord();
        renderer->SetVisible(recordIndex, true);
    }
}

void Knob::SetRealValue(float value)
{
    if (!record.plugin)
        return;
    const float low = std::min(record.minimum, record.maximum), high = std::max(record.minimum, record.maximum);
    record.plugin->SetParameterValue(record.index, std::clamp(value, low, high), true);
    const float real = record.plugin->GetParameterReal(record.index);
    normalised.store(NormalizeParameterValue(record.unit, record.minimum, record.maximum, real),
                     std::memory_order_relaxed);
}

void Knob::MouseDown(const Point& point, uint32_t modifiers, int clicks)
{
    // The gesture begins before any value changes, so the host hears the
    // reset or flip inside it.
    Control::MouseDown(point, modifiers, clicks);
    const bool alt = (modifiers & kAlt) != 0;
    const bool doubleClick = clicks == 2;
    if (alt && doubleClick) {
        SetRealValue(0.0f);
    } else if (alt || doubleClick) {
        SetRealValue(record.defaultValue);
    } else if (IsStepped() && record.minimum == 0.0f && record.maximum == 1.0f && record.plugin) {
        SetRealValue(1.0f - record.plugin->GetParameterReal(record.index));
    }
    // The value as it stands now, not as the last frame saw it.
    Control::Update();
    pressPoint = point;
    pressValue = Normalised();
}

void Knob::MouseDrag(const Point& point, uint32_t modifiers)
{
    const float sensitivity = (modifiers & kShift) ? kFineSensitivity : kSensitivity;
    float n = std::clamp(pressValue + (point.y - pressPoint.y) * sensitivity, 0.0f, 1.0f);
    if (modifiers & kCtrl)
        n = std::clamp(geometry::SnapToWholeValue(n, record.minimum, record.maximum), 0.0f, 1.0f);
    SetValueFromNormalised(n);
}

void Knob::InitGL()
{
    if (!renderer)
        return;
    Box box = rect;
    AddAncestorOffsets(this, box);
    if (KnobRecord* knob = renderer->Record(recordIndex)) {
        knob->centreX = (box.x0 + box.x1) / 2.0f;
        knob->centreY = (box.y0 + box.y1) / 2.0f;
        knob->radius = box.x1 - knob->centreX;
    }
}

void Knob::SetVisible(bool flag)
{
    Control::SetVisible(flag);
    if (renderer)
        renderer->SetVisible(recordIndex, flag);
}

// ArcKnob

ArcKnob::ArcKnob(Manager* manager, ArcKnobRenderer* renderer, int32_t parameterIndex, float x, float y, float size)
    : Knob(manager, renderer, parameterIndex, x, y, size)
{
}

void ArcKnob::Update()
{
    Control::Update();
    if (!renderer)
        return;
    renderer->SetKnobAngle(recordIndex, Normalised() * geometry::kArcSweep);
    const float target = manager && manager->EditedParameter() == record.index ? 1.0f : 0.0f;
    highlight += (target - highlight) * 0.3f;
    if (std::fabs(highlight - target) < 0.003921569f)
        highlight = target;
    if (renderer->HasVertexArray()) {
        const float b = 1.0f + 0.25f * highlight;
        renderer->SetKnobColour(recordIndex, Colour{b * colour.r, b * colour.g, b * colour.b, colour.a});
    }
}

// BrelKnob

BrelKnob::BrelKnob(Manager* manager, TexturedKnobRenderer* renderer, int32_t parameterIndex, float x, float y,
                   float size)
    : Knob(manager, renderer, parameterIndex, x, y, size)
{
    if (record.unit == kUnitRelativeSemiTones)
        flags |= kFlagStepped;
    if (renderer)
        renderer->SetKnobAngle(recordIndex, 0.0f);
}

void BrelKnob::Update()
{
    Control::Update();
    if (renderer)
        renderer->SetKnobAngle(recordIndex, (2.0f * Normalised() - 1.0f) * geometry::kSpinHalfSweep);
}

} // namespace QZ
