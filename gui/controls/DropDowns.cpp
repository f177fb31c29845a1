#include "gui/controls/DropDowns.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>

#include "framework/CFType.h"
#include "framework/ObryAuBase.h"
#include "gui/controls/Knobs.h"
#include "gui/toolkit/GLSupport.h"
#include "platform/Utf8.h"

namespace QZ {

namespace {

std::vector<std::string> ValueNames(const ParameterLabelRecord& record)
{
    std::vector<std::string> names;
    CFArray* array = nullptr;
    if (!record.plugin || record.index < 0 ||
        record.plugin->GetParameterValueStrings(0, static_cast<uint32_t>(record.index), &array) != 0 || !array)
        return names;
    for (size_t i = 0; i < array->Count(); ++i) {
        const auto* name = dynamic_cast<CFString*>(array->At(i));
        names.push_back(name && name->CString() ? std::string(corvane::Utf8Prefix(name->CString(), DropDown::kMaxItemLength)) : std::string());
    }
    array->Release();
    return names;
}

} // namespace

DropDownList PlaceDropDownList(float x0, float y0, float x1, float y1, int count, int current, float windowHeight)
{
    DropDownList list;
    list.itemHeight = y1 - y0;
    list.x = x0;
    list.width = x1 - x0;
    list.height = static_cast<float>(count) * list.itemHeight;
    list.bottom = y0 - static_cast<float>(count - current - 1) * list.itemHeight;
    if (list.bottom >= 0 && list.bottom + list.height > windowHeight)
        list.bottom -= list.bottom + list.height - windowHeight;
    if (list.bottom < 0)
        list.bottom = 0;
    return list;
}

// DropDown

DropDown::DropDown(Manager* manager, int32_t parameterIndex, float x, float y, float w, float h)
    : Control(manager, LabelRecordFor(manager, parameterIndex))
{
    rect = Box{x, y, 0, x + w, y + h, 0};
    items = ValueNames(record);
    itemCaches.resize(items.size());
}

DropDownList DropDown::List() const
{
    std::lock_guard<std::mutex> hold(listLock);
    return list;
}

int32_t DropDown::CurrentItem() const
{
    if (items.empty())
        return -1;
    const float value = record.plugin ? record.plugin->GetParameterReal(record.index) : 0.0f;
    const float last = static_cast<float>(items.size() - 1);
    // Truncated toward zero, so -0.5 shows the first item too.
    const float clamped = std::isfinite(value) ? std::clamp(std::trunc(value), 0.0f, last) : 0.0f;
    return static_cast<int32_t>(clamped);
}

void DropDown::MouseDown(const Point& point, uint32_t modifiers, int clicks)
{
    if (items.empty())
        return; // nothing to pick: no list, no gesture
    const int32_t current = CurrentItem();
    const Box box = AbsoluteBox(this);
    const float windowHeight = manager ? static_cast<float>(manager->PanelHeight()) : 0.0f;
    {
        std::lock_guard<std::mutex> hold(listLock);
        list = PlaceDropDownList(box.x0, box.y0, box.x1, box.y1, static_cast<int>(items.size()), current,
                                 windowHeight);
        ownX = rect.x0;
        ownBottom = list.bottom + (rect.y0 - box.y0);
    }
    highlighted.store(current, std::memory_order_release); // opens the list
    Control::MouseDown(point, modifiers, clicks);
    if (manager)
        manager->RequestRedraw();
}

void DropDown::MouseDrag(const Point& point, uint32_t)
{
    const DropDownList open = List();
    if (!IsOpen() || !(open.itemHeight > 0))
        return;
    const float dx = point.x - open.x, dy = point.y - open.bottom;
    if (dx < 0 || dx > open.width || dy < 0 || dy > open.height)
        return; // outside the list the highlight stays
    const auto item = static_cast<int32_t>((open.height - dy) / open.itemHeight);
    highlighted.store(std::clamp(item, 0, static_cast<int32_t>(items.size()) - 1), std::memory_order_release);
    if (manager)
        manager->RequestRedraw();
}

void DropDown::MouseUp(const Point& point, uint32_t modifiers)
{
    const int32_t chosen = Highlighted();
    if (chosen < 0)
        return;
    const DropDownList open = List();
    const float dx = point.x - open.x, dy = point.y - open.bottom;
    if (dx >= 0 && dx < open.width && dy >= 0 && dy < open.height && record.plugin) {
        const float low = std::min(record.minimum, record.maximum), high = std::max(record.minimum, record.maximum);
        record.plugin->SetParameterValue(record.index, std::clamp(static_cast<float>(chosen), low, high), true);
    }
    highlighted.store(-1, std::memory_order_release);
    Control::MouseUp(point, modifiers);
    if (manager)
        manager->RequestRedraw();
}

void DropDown::DrawCurrentName(const Colour& colour)
{
    FontRecord* font = manager ? manager->TextFieldFont() : nullptr;
    const int32_t current = CurrentItem();
    if (!font || !font->HasFont() || current < 0)
        return;
    const std::string& name = items[static_cast<size_t>(current)];
    const float w = MeasureText(*font, name);
    glColor4f(colour.r, colour.g, colour.b, colour.a);
    closedCache.Layout(font, name, NameX(rect.x0, rect.x1 - rect.x0, w), rect.y0 + 2);
    const gl::ScopedClip clip(manager->WindowBox(AbsoluteBox(this)));
    closedCache.Draw(font);
}

float DropDown::NameX(float x, float width, float nameWidth)
{
    // A name too wide for the box starts at its left edge (and is cut at
    // the right one) rather than running over both neighbours.
    if (nameWidth > width - 2 * kNameInset)
        return std::floor(x + kNameInset);
    return std::floor(x + (width - nameWidth) / 2);
}

void DropDown::DrawList(const Colour& box, const Colour& item, const Colour& highlight, bool blend)
{
    const int32_t chosen = Highlighted();
    if (chosen < 0)
        return;
    DropDownList open;
    float x, bottom;
    {
        std::lock_guard<std::mutex> hold(listLock);
        open = list;
        x = ownX;
        bottom = ownBottom;
    }
    if (blend) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    glColor4f(box.r, box.g, box.b, box.a);
    gl::FillRect(x, bottom, x + open.width, bottom + open.height);
    if (blend)
        glDisable(GL_BLEND);
    FontRecord* font = manager ? manager->TextFieldFont() : nullptr;
    if (!font || !font->HasFont())
        return;
    const gl::ScopedClip clip(
        manager->WindowBox(Box{open.x, open.bottom, 0, open.x + open.width, open.bottom + open.height, 0}));
    const size_t n = items.size();
    for (size_t i = 0; i < n; ++i) {
        const float w = MeasureText(*font, items[i]);
        const Colour& c = static_cast<int32_t>(i) == chosen ? highlight : item;
        glColor4f(c.r, c.g, c.b, c.a);
        itemCaches[i].Layout(font, items[i], NameX(x, open.width, w),
                             bottom + 1 + static_cast<float>(n - 1 - i) * open.itemHeight);
        itemCaches[i].Draw(font);
    }
}

void DropDown::Draw()
{
    glColor3f(0, 1, 0);
    gl::OutlineRect(rect.x0, rect.y0, rect.x1, rect.y1);
    DrawCurrentName(Colour{0, 1, 0, 1});
}

void DropDown::DrawPopup()
{
    DrawList(Colour{0, 0.5f, 0, 1}, Colour{0, 1, 0, 1}, Colour{1, 1, 0, 1}, false);
}

// QJDropDown

void QJDropDown::Draw()
{
    if (IsVisible())
        DrawCurrentName(Colour{0.1f, 0.1f, 0.1f, 1});
}

void QJDropDown::DrawPopup()
{
    if (IsVisible())
        DrawList(Colour{0.6f, 0.6f, 0.6f, 0.95f}, Colour{0.1f, 0.1f, 0.1f, 1}, Colour{1, 1, 1, 1}, true);
}

void QJDropDown::DrawLabels(FontRecord*)
{
    const Box box = AbsoluteBox(this);
    glColor3f(0.8f, 0.8f, 0.85f);
    gl::FillRect(box.x0, box.y0, box.x1, box.y1);
}

// Label

Label::Label(Manager* manager, const std::string& text, float x, float y, char alignment, FontRecord* font)
    : ControlBase(manager), text(text)
{
    if (!font && manager)
        font = manager->LabelFont();
    if (!font || !font->HasFont())
        return; // no box, nothing drawn
    float width = 0, height = 0, ignored = 0;
    MeasureTextExtent(*font, text, width, ignored);
    MeasureTextExtent(*font, "M", ignored, height);
    width = std::floor(width) + 6;
    height = std::floor(height) + 6;
    const float left = std::floor(alignment == 'l' ? x : alignment == 'r' ? x - width : x - width / 2);
    rect = Box{left, y - height, 0, left + width, y, 0};
}

void Label::SetBackgroundColour(const Colour& colour)
{
    std::lock_guard<std::mutex> hold(colourLock);
    background = colour;
}

void Label::SetForegroundColour(const Colour& colour)
{
    std::lock_guard<std::mutex> hold(colourLock);
    foreground = colour;
}

Colour Label::BackgroundColour() const
{
    std::lock_guard<std::mutex> hold(colourLock);
    return background;
}

Colour Label::ForegroundColour() const
{
    std::lock_guard<std::mutex> hold(colourLock);
    return foreground;
}

void Label::DrawLabels(FontRecord* font)
{
    if (text.empty() || rect.IsEmpty())
        return;
    const Box box = AbsoluteBox(this);
    const Colour back = BackgroundColour(), fore = ForegroundColour();
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(back.r, back.g, back.b, back.a);
    gl::FillRect(box.x0, box.y0, box.x1, box.y1);
    glDisable(GL_BLEND);
    if (!font || !font->HasFont())
        return;
    glColor4f(fore.r, fore.g, fore.b, fore.a);
    cache.Layout(font, text, box.x0 + insetX, box.y0 + insetY);
    cache.Draw(font);
}

} // namespace QZ
