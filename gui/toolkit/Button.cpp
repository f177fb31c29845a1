#include "gui/toolkit/Button.h"

#include <epoxy/gl.h>

#include "framework/ObryAuBase.h"
#include "gui/toolkit/Fonts.h"
#include "gui/toolkit/StaticText.h"

namespace QZ {

// Button

Button::Button(Manager* manager, const std::string& label, Action action, void* context, float x, float y,
               float width, float height, int32_t hoverId)
    : ControlBase(manager), label(label), action(action), actionContext(context), hoverId(hoverId)
{
    rect.x0 = x;
    rect.y0 = y;
    rect.z0 = 0;
    rect.x1 = x + width;
    rect.y1 = y + height;
    rect.z1 = 0;
}

void Button::Draw()
{
    glColor3f(0, 1, 0);
    glBegin(GL_LINE_LOOP);
    glVertex2f(rect.x0, rect.y0);
    glVertex2f(rect.x1, rect.y0);
    glVertex2f(rect.x1, rect.y1);
    glVertex2f(rect.x0, rect.y1);
    glEnd();
}

void Button::RunAction()
{
    if (action)
        action(this, actionContext);
}

void Button::MouseUp(const Point&, uint32_t)
{
    RunAction();
}

void Button::MouseEnter()
{
    if (!manager)
        return;
    manager->SetHoveredParameter(hoverId);
    manager->SetTooltipElement(this);
}

void Button::MouseLeave()
{
    if (manager && manager->HoveredParameter() == hoverId)
        manager->SetHoveredParameter(-1);
}

void Button::SetVisible(bool flag)
{
    UIElement::SetVisible(flag);
    const int32_t entry = LabelEntry();
    if (entry >= 0 && manager && manager->Text())
        manager->Text()->SetEntryVisible(entry, flag);
}

int32_t Button::AddCentredLabel(UIElement& element, const std::string& text, const Colour* colour)
{
    Manager* manager = element.GetManager();
    FontRecord* font = manager ? manager->MainFont() : nullptr;
    if (!font || !manager->Text())
        return -1;
    const Box box = AbsoluteBox(&element);
    if (box.IsEmpty())
        return -1;
    const float cx = (box.x0 + box.x1) / 2, cy = (box.y0 + box.y1) / 2;
    const float advance = MeasureText(*font, text);
    const int32_t entry = manager->Text()->AddText(
        text, cx - advance / 2, cy - font->LineHeight() / 2 - font->Descender(), colour);
    manager->Text()->SetEntryVisible(entry, element.IsVisible());
    return entry;
}

void Button::PlaceLabel(const Colour* colour)
{
    const int32_t entry = AddCentredLabel(*this, label, colour);
    labelEntry.store(entry, std::memory_order_release);
    // A SetVisible that ran while the label was being placed saw no entry.
    if (entry >= 0)
        manager->Text()->SetEntryVisible(entry, IsVisible());
}

// StatefulButton

StatefulButton::StatefulButton(Manager* manager, const std::string& label, Action action, void* context, float x,
                               float y, float width, float height, int32_t hoverId, bool toggle)
    : Button(manager, label, action, context, x, y, width, height, hoverId), state(toggle ? 0 : 1), toggle(toggle)
{
}

void StatefulButton::MouseDown(const Point&, uint32_t, int)
{
    if (toggle)
        state.store(state.load(std::memory_order_relaxed) ? 0 : 1, std::memory_order_relaxed);
    else
        state.store(0, std::memory_order_relaxed);
    RunAction();
}

void StatefulButton::MouseUp(const Point&, uint32_t)
{
    if (!toggle)
        state.store(1, std::memory_order_relaxed);
}

// PropertyButton

PropertyButton::PropertyButton(Manager* manager, const std::string& label, uint32_t propertyId, float x, float y,
                               float width, float height, int32_t hoverId, bool toggle)
    : Button(manager, label, nullptr, nullptr, x, y, width, height, hoverId), toggle(toggle), propertyId(propertyId)
{
}

uint8_t PropertyButton::ReadProperty()
{
    ObryAuBase* plugin = manager ? manager->Plugin() : nullptr;
    // A wider answer than the byte asked for must not overrun it.
    uint64_t value = 0;
    if (!plugin || plugin->GetProperty(propertyId, 0, 0, &value) != 0)
        return state.load(std::memory_order_relaxed);
    return static_cast<uint8_t>(value & 0xff);
}

void PropertyButton::WriteProperty(uint8_t value)
{
    state.store(value, std::memory_order_relaxed);
    if (ObryAuBase* plugin = manager ? manager->Plugin() : nullptr)
        plugin->SetPropertyAndNotify(propertyId, &value, 1);
}

void PropertyButton::Update()
{
    state.store(ReadProperty(), std::memory_order_relaxed);
}

void PropertyButton::MouseDown(const Point&, uint32_t, int)
{
    Update();
    if (toggle)
        WriteProperty(state.load(std::memory_order_relaxed) ? 0 : 1);
    else
        WriteProperty(0);
}

void PropertyButton::MouseUp(const Point&, uint32_t)
{
    if (!toggle)
        WriteProperty(1);
}

} // namespace QZ
