#include "gui/controls/Sliders.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>

#include "framework/ObryAuBase.h"
#include "gui/controls/KnobGeometry.h"
#include "gui/controls/Knobs.h"
#include "gui/toolkit/GLSupport.h"
#include "gui/controls/Renderers.h"
#include "gui/editor/CarbonVSTEditor.h"

namespace QZ {

namespace {

constexpr uint32_t kAlt = CarbonVSTEditor::kModifierAlt;
constexpr uint32_t kShift = CarbonVSTEditor::kModifierShift;
constexpr uint32_t kCtrl = CarbonVSTEditor::kModifierControl;

} // namespace

// Slider

Slider::Slider(Manager* manager, int32_t parameterIndex, float x, float y, float w, float h, bool horizontal)
    : Control(manager, LabelRecordFor(manager, parameterIndex)), horizontal(horizontal)
{
    rect = Box{x, y, 0, x + w, y + h, 0};
}

Box Slider::WindowBox() const
{
    Box box = rect;
    AddAncestorOffsets(this, box);
    return box;
}

float Slider::ValueAt(const Point& point) const
{
    const Box box = WindowBox();
    const float extent = horizontal ? box.x1 - box.x0 : box.y1 - box.y0;
    if (!(extent > 0))
        return 0;
    return horizontal ? (point.x - box.x0) / extent : (point.y - box.y0) / extent;
}

void Slider::MouseDown(const Point& point, uint32_t modifiers, int clicks)
{
    // The gesture begins before any value changes, so the host hears the
    // reset inside it.
    Control::MouseDown(point, modifiers, clicks);
    if ((modifiers & kAlt) && record.plugin) {
        const float low = std::min(record.minimum, record.maximum), high = std::max(record.minimum, record.maximum);
        record.plugin->SetParameterValue(record.index, std::clamp(record.defaultValue, low, high), true);
    }
    // The value as it stands now, not as the last frame saw it.
    Control::Update();
    pressPoint = point;
    pressValue = Normalised();
    MouseDrag(point, modifiers);
}

void Slider::MouseDrag(const Point& point, uint32_t modifiers)
{
    if (modifiers & kAlt)
        return;
    float n;
    if (modifiers & kShift)
        n = pressValue + (horizontal ? point.x - pressPoint.x : point.y - pressPoint.y) * kFineSensitivity;
    else
        n = ValueAt(point);
    n = std::clamp(n, 0.0f, 1.0f);
    if (modifiers & kCtrl)
        n = std::clamp(geometry::SnapToWholeValue(n, record.minimum, record.maximum), 0.0f, 1.0f);
    SetValueFromNormalised(n);
}

void Slider::DrawLabels(FontRecord*)
{
    Box box = WindowBox();
    if (horizontal) {
        box.y0 += 2;
        box.y1 -= 2;
    } else {
        box.x0 += 2;
        box.x1 -= 2;
    }
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(0, 0, 0.1f, 0.4f);
    gl::FillRect(box.x0, box.y0, box.x1, box.y1);
    glDisable(GL_BLEND);
}

// TexturedSlider

TexturedSlider::TexturedSlider(Manager* manager, TexturedSliderRenderer* renderer, float textureX, float textureY,
                               float halfWidth, float halfHeight, int32_t parameterIndex, float x, float y, float w,
                               float h, bool horizontal)
    : Slider(manager, parameterIndex, x, y, w, h, horizontal), renderer(renderer)
{
    if (renderer) {
        recordIndex = renderer->AddRecord();
        if (SliderRecord* thumb = renderer->Record(recordIndex)) {
            thumb->textureX = textureX;
            thumb->textureY = textureY;
            thumb->halfWidth = halfWidth;
            thumb->halfHeight = halfHeight;
        }
        renderer->SetVisible(recordIndex, true);
    }
    thumbOffset = (horizontal ? halfWidth : halfHeight) * 0.5f;
}

Point TexturedSlider::ThumbCentre(float v) const
{
    const float along = geometry::ThumbPosition(v, horizontal ? trackStart.x : trackStart.y, travel, thumbOffset);
    return horizontal ? Point{along, trackStart.y} : Point{trackStart.x, along};
}

void TexturedSlider::InitGL()
{
    const Box box = WindowBox();
    trackStart = Point{box.x0, box.y0};
    travel = horizontal ? box.x1 - box.x0 : box.y1 - box.y0;
    if (renderer) {
        const Point p = ThumbCentre(Normalised());
        renderer->MoveThumb(recordIndex, p.x, p.y);
    }
}

void TexturedSlider::Update()
{
    Control::Update();
    if (!renderer)
        return;
    const Point p = ThumbCentre(Normalised());
    renderer->MoveThumb(recordIndex, p.x, p.y);
}

void TexturedSlider::SetVisible(bool flag)
{
    Control::SetVisible(flag);
    if (renderer)
        renderer->SetVisible(recordIndex, flag);
}

} // namespace QZ
