#include "gui/toolkit/UIElement.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "framework/ObryProperties.h"
#include "framework/ParameterInfo.h"
#include "gui/toolkit/Fonts.h"
#include "gui/toolkit/StaticText.h"

namespace QZ {

namespace {

// Units whose values are whole steps: indexed, boolean, MIDI note, beats.
bool IsSteppedUnit(uint32_t unit)
{
    return unit == 1 || unit == 2 || unit == 11 || unit == 23;
}

void Merge(Box& box, const Box& other)
{
    box.x0 = std::min(box.x0, other.x0);
    box.y0 = std::min(box.y0, other.y0);
    box.z0 = std::min(box.z0, other.z0);
    box.x1 = std::max(box.x1, other.x1);
    box.y1 = std::max(box.y1, other.y1);
    box.z1 = std::max(box.z1, other.z1);
}

// The frame colours are set by GUI scripts on the UI thread and read by
// every editor's render thread when a group is made or hovered.
std::mutex colourMutex;
Colour activeColour{0.5f, 0.8f, 1.0f, 0.6f};
Colour inactiveColour{0.5f, 0.5f, 0.5f, 0.5f};

} // namespace

std::atomic<bool> Group::groupsCountAsHits{false};

// UIElement

UIElement::UIElement(Manager* manager) : manager(manager)
{
    if (manager)
        manager->AddElement(this);
}

void UIElement::AddAncestorOffsets(const UIElement* element, Box& box)
{
    if (element)
        Group::AddAncestorOffsets(element->parent, box);
}

Box UIElement::AbsoluteBox(UIElement* element)
{
    Box box;
    if (!element)
        return box;
    element->AddToBounds(box);
    AddAncestorOffsets(element, box);
    return box;
}

// ControlBase

void ControlBase::AddToBounds(Box& box)
{
    Merge(box, rect);
}

UIElement* ControlBase::HitTest(const Point& point)
{
    return rect.Contains(point) ? this : nullptr;
}

// Control

Control::Control(Manager* manager, const ParameterLabelRecord& record) : ControlBase(manager), record(record)
{
    if (IsSteppedUnit(record.unit))
        flags |= kFlagStepped;
}

void Control::Update()
{
    if (!record.plugin)
        return;
    const float real = record.plugin->GetParameterReal(record.index);
    normalised.store(NormalizeParameterValue(record.unit, record.minimum, record.maximum, real),
                     std::memory_order_relaxed);
}

void Control::MouseDown(const Point&, uint32_t, int)
{
    if (manager)
        manager->BeginParameterEdit(record.index);
}

void Control::MouseUp(const Point&, uint32_t)
{
    if (manager)
        manager->EndParameterEdit(record.index);
}

void Control::MouseEnter()
{
    if (!manager)
        return;
    manager->SetHoveredParameter(record.index);
    manager->SetTooltipElement(this);
}

void Control::MouseLeave()
{
    if (manager && manager->HoveredParameter() == record.index)
        manager->SetHoveredParameter(-1);
}

void Control::SetValueFromNormalised(float n)
{
    if (!std::isfinite(n))
        return;
    n = std::clamp(n, 0.0f, 1.0f);
    const float range = record.maximum - record.minimum;
    float value;
    if (IsStepped()) {
        value = std::floor(record.minimum + range * n + 0.5f);
        // A parameter whose range is a single value has nothing to normalise by.
        if (range != 0.0f && std::isfinite(range))
            n = std::clamp((value - record.minimum) / range, 0.0f, 1.0f);
    } else {
        value = DenormalizeParameterValue(record.unit, record.minimum, record.maximum, n);
    }
    value = std::clamp(value, std::min(record.minimum, record.maximum), std::max(record.minimum, record.maximum));
    normalised.store(n, std::memory_order_relaxed);
    if (record.plugin)
        record.plugin->SetParameterValue(record.index, value, true);
}

// Group

void Group::AddAncestorOffsets(const Group* group, Box& box)
{
    for (; group; group = group->parent) {
        box.x0 += group->offsetX;
        box.y0 += group->offsetY;
        box.z0 += group->offsetZ;
        box.x1 += group->offsetX;
        box.y1 += group->offsetY;
        box.z1 += group->offsetZ;
    }
}

void Group::AddChild(UIElement* child)
{
    if (!child || child == this)
        return;
    children.push_back(child);
    child->SetParent(this);
    child->SetVisible(IsVisible());
}

void Group::AddChildFirst(UIElement* child)
{
    if (!child || child == this)
        return;
    children.insert(children.begin(), child);
    child->SetParent(this);
    child->SetVisible(IsVisible());
}

void Group::Update()
{
    for (UIElement* child : children)
        child->Update();
}

void Group::Draw()
{
    glPushMatrix();
    glTranslatef(offsetX, offsetY, offsetZ);
    for (UIElement* child : children)
        child->Draw();
    glPopMatrix();
}

void Group::DrawPopup()
{
    glPushMatrix();
    glTranslatef(offsetX, offsetY, offsetZ);
    for (UIElement* child : children)
        child->DrawPopup();
    glPopMatrix();
}

Box Group::ChildrenBox()
{
    Box inner;
    for (UIElement* child : children)
        child->AddToBounds(inner);
    return inner;
}

void Group::AddToBounds(Box& box)
{
    Box inner = ChildrenBox();
    if (inner.IsEmpty())
        return; // moving the empty box would make it a real one
    inner.x0 += offsetX, inner.y0 += offsetY, inner.z0 += offsetZ;
    inner.x1 += offsetX, inner.y1 += offsetY, inner.z1 += offsetZ;
    Merge(box, inner);
}

UIElement* Group::HitTest(const Point& point)
{
    if (!IsVisible())
        return nullptr;
    const Point relative{point.x - offsetX, point.y - offsetY};
    for (UIElement* child : children) {
        if (UIElement* hit = child->HitTest(relative))
            return hit;
    }
    if (GroupsCountAsHits() && rect.Contains(point))
        return this;
    return nullptr;
}

void Group::SetVisible(bool flag)
{
    UIElement::SetVisible(flag);
    for (UIElement* child : children)
        child->SetVisible(flag);
}

// NamedGroup

NamedGroup::NamedGroup(Manager* manager, const std::string& name, float top, float bottom, float left, float right)
    : Group(manager), name(name), marginTop(top), marginBottom(bottom), marginLeft(left), marginRight(right),
      current(InactiveColour())
{
}

void NamedGroup::SetActiveColour(const Colour& colour)
{
    std::lock_guard<std::mutex> hold(colourMutex);
    activeColour = colour;
}

void NamedGroup::SetInactiveColour(const Colour& colour)
{
    std::lock_guard<std::mutex> hold(colourMutex);
    inactiveColour = colour;
}

Colour NamedGroup::ActiveColour()
{
    std::lock_guard<std::mutex> hold(colourMutex);
    return activeColour;
}

Colour NamedGroup::InactiveColour()
{
    std::lock_guard<std::mutex> hold(colourMutex);
    return inactiveColour;
}

void NamedGroup::AddToBounds(Box& box)
{
    Box inner = ChildrenBox();
    if (inner.IsEmpty())
        return;
    inner.x0 -= marginLeft;
    inner.y0 -= marginBottom;
    inner.x1 += marginRight;
    inner.y1 += marginTop;
    inner.x0 += offsetX, inner.y0 += offsetY, inner.z0 += offsetZ;
    inner.x1 += offsetX, inner.y1 += offsetY, inner.z1 += offsetZ;
    Merge(box, inner);
}

void NamedGroup::MouseEnter()
{
    targetActive.store(true, std::memory_order_relaxed);
}

void NamedGroup::MouseLeave()
{
    targetActive.store(false, std::memory_order_relaxed);
}

void NamedGroup::StepColour()
{
    const Colour target = targetActive.load(std::memory_order_relaxed) ? ActiveColour() : InactiveColour();
    current.r = 0.85f * current.r + 0.15f * target.r;
    current.g = 0.85f * current.g + 0.15f * target.g;
    current.b = 0.85f * current.b + 0.15f * target.b;
    current.a = 0.85f * current.a + 0.15f * target.a;
}

void NamedGroup::InitGL()
{
    FontRecord* font = manager ? manager->MainFont() : nullptr;
    float nameWidth = 0;
    if (font && manager->Text()) {
        const Box box = AbsoluteBox(this);
        if (!box.IsEmpty()) {
            const float lineHeight = font->HasFont() ? font->LineHeight() : 0;
            const float descender = font->HasFont() ? font->Descender() : 0;
            const int32_t entry =
                manager->Text()->AddText(name, box.x0 + 10, box.y1 - lineHeight / 2 - descender, &current);
            nameEntry.store(entry, std::memory_order_release);
            manager->Text()->SetEntryVisible(entry, IsVisible());
            nameWidth = MeasureText(*font, name);
        }
    }
    LayOutFrame(nameWidth);
}

void NamedGroup::SetVisible(bool flag)
{
    Group::SetVisible(flag);
    const int32_t entry = nameEntry.load(std::memory_order_acquire);
    if (entry >= 0 && manager && manager->Text())
        manager->Text()->SetEntryVisible(entry, flag);
}

void NamedGroup::LayOutFrame(float nameWidth)
{
    const Box box = AbsoluteBox(this);
    rect = box;
    if (box.IsEmpty())
        return; // a group without children has no frame
    frame[0] = {box.x0 + 10, box.y1};
    frame[1] = {box.x0, box.y1};
    frame[2] = {box.x0, box.y0};
    frame[3] = {box.x1, box.y0};
    frame[4] = {box.x1, box.y1};
    frame[5] = {box.x0 + 10 + nameWidth, box.y1};
}

void NamedGroup::Draw()
{
    if (!IsVisible())
        return;
    Group::Draw();
    StepColour();
    if (rect.IsEmpty())
        return;
    glColor4f(current.r, current.g, current.b, current.a);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glBegin(GL_LINE_STRIP);
    for (const Point& point : frame)
        glVertex2f(point.x, point.y);
    glEnd();
    glDisable(GL_BLEND);
}

} // namespace QZ
