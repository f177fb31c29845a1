#include "gui/controls/Buttons.h"

#include <epoxy/gl.h>

#include "framework/ObryAuBase.h"
#include "gui/controls/Knobs.h"
#include "gui/toolkit/GLSupport.h"
#include "gui/toolkit/StaticText.h"

namespace QZ {

// ButtonLook

Colour ButtonLook::ColourOf(Target target)
{
    switch (target) {
    case kHover:
        return button_colours::kHover;
    case kOn:
        return button_colours::kOn;
    case kIdle:
        break;
    }
    return button_colours::kIdle;
}

void ButtonLook::Draw(const Box& rect, float rate)
{
    const Colour goal = ColourOf(GetTarget());
    current.r += rate * (goal.r - current.r);
    current.g += rate * (goal.g - current.g);
    current.b += rate * (goal.b - current.b);
    current.a += rate * (goal.a - current.a);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(current.r, current.g, current.b, current.a);
    gl::FillRect(rect.x0, rect.y0, rect.x1, rect.y1);
    glDisable(GL_BLEND);
}

// BrelButton

BrelButton::BrelButton(Manager* manager, const std::string& label, Action action, void* context, float x, float y,
                       float w, float h, int32_t commandId)
    : HoverButton<Button>(manager, label, action, context, x, y, w, h, commandId)
{
}

// MIDIBrowseButton

MIDIBrowseButton::MIDIBrowseButton(Manager* manager, const std::string& label, Action action, uint32_t propertyId,
                                   float x, float y, float w, float h, int32_t commandId)
    : BrelButton(manager, label, action, nullptr, x, y, w, h, commandId), propertyId(propertyId)
{
    actionContext = this;
}

// BrelStatefulButton

BrelStatefulButton::BrelStatefulButton(Manager* manager, const std::string& label, Action action, void* context,
                                       float x, float y, float w, float h, int32_t commandId, bool toggle)
    : HoverButton<StatefulButton>(manager, label, action, context, x, y, w, h, commandId, toggle)
{
}

// BrelPropertyButton

BrelPropertyButton::BrelPropertyButton(Manager* manager, const std::string& label, uint32_t propertyId, float x,
                                       float y, float w, float h, int32_t commandId)
    : PropertyButton(manager, label, propertyId, x, y, w, h, commandId, true)
{
}

void BrelPropertyButton::Update()
{
    PropertyButton::Update();
    look.SetTarget(State() != 0 ? ButtonLook::kOn : ButtonLook::kIdle);
}

void BrelPropertyButton::Draw()
{
    look.Draw(rect, ButtonLook::kEase);
}

void BrelPropertyButton::InitGL()
{
    PlaceLabel(&button_colours::kLabel);
}

// CorvButton

CorvButton::CorvButton(Manager* manager, const std::string& label, float x, float y, float w, float h,
                       int32_t parameterIndex)
    : Control(manager, LabelRecordFor(manager, parameterIndex)), label(label)
{
    rect = Box{x, y, 0, x + w, y + h, 0};
}

void CorvButton::Update()
{
    Control::Update();
    look.SetTarget(Normalised() == 0.0f ? ButtonLook::kIdle : ButtonLook::kOn);
}

void CorvButton::Draw()
{
    look.Draw(rect, ButtonLook::kHalfStep);
}

void CorvButton::MouseDown(const Point& point, uint32_t modifiers, int clicks)
{
    // The gesture begins before the value changes, so the host hears the
    // flip inside it.
    Control::MouseDown(point, modifiers, clicks);
    Control::Update();
    SetValueFromNormalised(Normalised() == 0.0f ? 1.0f : 0.0f);
}

void CorvButton::InitGL()
{
    const int32_t entry = Button::AddCentredLabel(*this, label, &button_colours::kLabel);
    labelEntry.store(entry, std::memory_order_release);
    if (entry >= 0)
        manager->Text()->SetEntryVisible(entry, IsVisible());
}

void CorvButton::SetVisible(bool flag)
{
    Control::SetVisible(flag);
    const int32_t entry = LabelEntry();
    if (entry >= 0 && manager && manager->Text())
        manager->Text()->SetEntryVisible(entry, flag);
}

} // namespace QZ
