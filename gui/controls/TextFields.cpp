#include "gui/controls/TextFields.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "framework/ObryAuBase.h"
#include "gui/controls/Knobs.h"
#include "gui/toolkit/GLSupport.h"
#include "gui/toolkit/StaticText.h"

namespace QZ {

namespace {

// The property field's text colour (shared by every field, never changed).
constexpr Colour kValueTextColour{0.8f, 0.8f, 0.8f, 1.0f};
constexpr Colour kGlowColour{1.0f, 0.9f, 0.9f, 0.2f};
// Longest property text a field reads.
constexpr uint32_t kMaxPropertySize = 4096;

// A number at the start of text (after blanks), as "%f" reads it; false when
// there is none.
bool ParseNumber(const char* text, float& value)
{
    while (*text == ' ')
        ++text;
    const char* end = text + std::strlen(text);
    if (*text == '+')
        ++text;
    const auto result = std::from_chars(text, end, value, std::chars_format::general);
    return result.ec == std::errc() && std::isfinite(value);
}

} // namespace

bool IsSafeFloatFormat(const std::string& format)
{
    int conversions = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%')
            continue;
        ++i;
        if (i < format.size() && format[i] == '%')
            continue; // a literal percent sign
        while (i < format.size() && std::strchr("-+ #0", format[i]))
            ++i;
        int digits = 0;
        while (i < format.size() && std::isdigit(static_cast<unsigned char>(format[i])))
            ++i, ++digits;
        if (digits > 2)
            return false;
        if (i < format.size() && format[i] == '.') {
            ++i;
            digits = 0;
            while (i < format.size() && std::isdigit(static_cast<unsigned char>(format[i])))
                ++i, ++digits;
            if (digits > 2)
                return false;
        }
        if (i < format.size() && format[i] == 'l')
            ++i;
        if (i >= format.size() || !std::strchr("fFeEgG", format[i]))
            return false;
        ++conversions;
    }
    return conversions == 1;
}

float KeyStepForText(const char* text)
{
    if (std::isalpha(static_cast<unsigned char>(text[0])))
        return 1;
    const char* dot = std::strchr(text, '.');
    if (!dot)
        return 1;
    int decimals = 0;
    for (const char* p = dot + 1; *p; ++p)
        ++decimals;
    return std::pow(10.0f, static_cast<float>(-decimals));
}

// TextField

TextField::TextField(Manager* manager, int32_t parameterIndex, float x, float y, float w, float h,
                     const std::string& format)
    : Control(manager, LabelRecordFor(manager, parameterIndex)), format(IsSafeFloatFormat(format) ? format : "")
{
    rect = Box{x, y, 0, x + w, y + h, 0};
}

float TextField::CurrentValue() const
{
    return record.plugin ? record.plugin->GetParameterReal(record.index) : 0.0f;
}

std::string TextField::Text() const
{
    std::lock_guard<std::mutex> hold(lock);
    return buffer;
}

bool TextField::Editing() const
{
    std::lock_guard<std::mutex> hold(lock);
    return editPosition >= 0;
}

void TextField::SetColour(int role, const Colour& colour)
{
    if (role < 0 || role > 3)
        return;
    std::lock_guard<std::mutex> hold(lock);
    colours[role] = Colour{colour.r, colour.g, colour.b, 1.0f};
}

Colour TextField::GetColour(int role) const
{
    std::lock_guard<std::mutex> hold(lock);
    return role >= 0 && role <= 3 ? colours[role] : Colour{};
}

void TextField::ApplyValue(float value)
{
    if (manager)
        manager->BeginParameterEdit(record.index);
    if (record.plugin && std::isfinite(value)) {
        const float low = std::min(record.minimum, record.maximum), high = std::max(record.minimum, record.maximum);
        record.plugin->SetParameterValue(record.index, std::clamp(value, low, high), true);
    }
    if (manager)
        manager->EndParameterEdit(record.index);
    std::lock_guard<std::mutex> hold(lock);
    editPosition = -1;
    lastEditDrawn = -1;
    lastValue = kNoValue;
}

float TextField::KeyStep() const
{
    std::lock_guard<std::mutex> hold(lock);
    return KeyStepForText(buffer);
}

void TextField::MouseDown(const Point& point, uint32_t modifiers, int clicks)
{
    Control::MouseDown(point, modifiers, clicks);
    if (manager)
        manager->SetKeyFocus(this);
    focused.store(true, std::memory_order_relaxed);
}

void TextField::LoseFocus()
{
    focused.store(false, std::memory_order_relaxed);
    std::lock_guard<std::mutex> hold(lock);
    editPosition = -1;
    lastEditDrawn = -1;
    lastValue = kNoValue;
}

bool TextField::KeyDown(uint8_t key)
{
    switch (key) {
    case 3:
    case 13: {
        float value = 0;
        bool parsed;
        {
            std::lock_guard<std::mutex> hold(lock);
            parsed = ParseNumber(buffer, value);
        }
        if (parsed)
            ApplyValue(value);
        return true;
    }
    case 8: {
        std::lock_guard<std::mutex> hold(lock);
        if (editPosition >= 0) {
            buffer[editPosition] = 0;
            --editPosition;
        }
        return true;
    }
    case 28:
    case 29:
    case 30:
    case 31: {
        // The step comes from the text the implicit Enter confirms.
        const float step = KeyStep();
        KeyDown(13);
        const float sign = key == 28 || key == 31 ? -1.0f : 1.0f;
        ApplyValue(CurrentValue() + sign * step);
        return true;
    }
    default:
        break;
    }
    const bool digit = key >= '0' && key <= '9';
    if (key != '-' && key != '.' && !digit)
        return false;
    std::lock_guard<std::mutex> hold(lock);
    if (key == '-') {
        if (editPosition < 0) {
            buffer[0] = '-';
            buffer[1] = 0;
            editPosition = 0;
        }
        return true;
    }
    if (key == '.' && editPosition >= 0 && std::strchr(buffer, '.'))
        return true;
    if (editPosition < 0) {
        buffer[0] = 0;
    } else if (editPosition >= static_cast<int32_t>(kBufferSize) - 2) {
        return true; // the 32nd character
    }
    ++editPosition;
    buffer[editPosition] = static_cast<char>(key);
    buffer[editPosition + 1] = 0;
    return true;
}

void TextField::Draw()
{
    FontRecord* font = manager ? manager->TextFieldFont() : nullptr;
    if (!font || !font->HasFont())
        return;
    std::string text;
    bool changed = false, editing;
    const float value = CurrentValue();
    {
        std::lock_guard<std::mutex> hold(lock);
        editing = editPosition >= 0;
        if (!editing) {
            if (value != lastValue) {
                lastValue = value;
                char display[64] = {};
                if (record.plugin)
                    record.plugin->getParameterDisplay(record.index, display);
                display[sizeof display - 1] = 0;
                std::snprintf(buffer, kBufferSize, "%s", display);
                if (!format.empty() && !std::isalpha(static_cast<unsigned char>(buffer[0])))
                    std::snprintf(buffer, kBufferSize, format.c_str(), static_cast<double>(value));
                changed = true;
            }
        } else if (editPosition != lastEditDrawn) {
            lastEditDrawn = editPosition;
            changed = true;
        }
        text = buffer;
    }
    if (changed || !cache.laidOut)
        textWidth = MeasureText(*font, text);
    DrawField(text, editing);
}

void TextField::DrawField(const std::string& text, bool editing)
{
    FontRecord* font = manager->TextFieldFont();
    Colour background, active, changedColour, textColour;
    {
        std::lock_guard<std::mutex> hold(lock);
        background = colours[kBackground];
        active = colours[kActive];
        changedColour = colours[kChanged];
        textColour = colours[kText];
    }
    glColor3f(background.r, background.g, background.b);
    gl::FillRect(rect.x0, rect.y0, rect.x1, rect.y1);
    if (HasFocus()) {
        const Colour& frame = editing ? changedColour : active;
        glColor3f(frame.r, frame.g, frame.b);
        gl::FillRect(rect.x0 + 1, rect.y0 + 1, rect.x1 - 1, rect.y1 - 1);
    }
    glColor3f(textColour.r, textColour.g, textColour.b);
    cache.Layout(font, text, rect.x1 - textWidth - 1, rect.y0 + 2);
    // A text wider than the field (a long value name) shows its end inside
    // the field instead of running over its neighbours.
    const gl::ScopedClip clip(manager->WindowBox(AbsoluteBox(this)));
    cache.Draw(font);
}

// PropertyTextField

PropertyTextField::PropertyTextField(Manager* manager, uint32_t propertyId, const std::string& prompt, float x,
                                     float y, float w, float h)
    : ControlBase(manager), propertyId(propertyId), prompt(prompt)
{
    rect = Box{x, y, 0, x + w, y + h, 0};
}

PropertyTextField::~PropertyTextField()
{
    // After this returns no call of the listener runs or starts.
    ObryAuBase* plugin = manager ? manager->Plugin() : nullptr;
    if (plugin && listening.load(std::memory_order_acquire))
        plugin->RemovePropertyListener(propertyId, PropertyChanged, this);
}

void PropertyTextField::PropertyChanged(void* field, ObryAuBase* plugin, uint32_t id, uint32_t, uint32_t)
{
    if (field)
        static_cast<PropertyTextField*>(field)->UpdateFromProperty(plugin, id);
}

std::string PropertyTextField::ReadPropertyText() const
{
    ObryAuBase* plugin = manager ? manager->Plugin() : nullptr;
    if (!plugin)
        return {};
    uint32_t size = 0;
    uint8_t writable = 0;
    if (plugin->GetPropertyInfo(propertyId, 0, 0, &size, &writable) != 0 || size == 0)
        return {};
    size = std::min(size, kMaxPropertySize);
    std::vector<char> text(static_cast<size_t>(size) + 1, 0);
    if (plugin->GetProperty(propertyId, 0, 0, text.data()) != 0)
        return {};
    text[size] = 0;
    return std::string(text.data());
}

std::string PropertyTextField::ValueText() const
{
    std::lock_guard<std::mutex> hold(valueLock);
    return valueText;
}

void PropertyTextField::UpdateFromProperty(ObryAuBase* plugin, uint32_t id)
{
    if (!manager || id != propertyId || plugin != manager->Plugin())
        return;
    const std::string text = ReadPropertyText();
    {
        std::lock_guard<std::mutex> hold(valueLock);
        valueText = text;
    }
    const int32_t entry = TextEntry();
    if (entry >= 0 && manager->Text())
        manager->Text()->SetEntryText(entry, text);
}

void PropertyTextField::InitGL()
{
    const Box box = AbsoluteBox(this);
    if (manager && manager->MainFont() && manager->Text() && !box.IsEmpty()) {
        // A long text (an OSC path) is cut at the field's edge rather than
        // drawn over its neighbours.
        const int32_t entry = manager->Text()->AddBoxedText(ValueText(), box, &kValueTextColour);
        textEntry.store(entry, std::memory_order_release);
    }
    ObryAuBase* plugin = manager ? manager->Plugin() : nullptr;
    if (plugin && !listening.load(std::memory_order_acquire) &&
        plugin->AddPropertyListener(propertyId, PropertyChanged, this) == 0)
        listening.store(true, std::memory_order_release);
    UpdateFromProperty(plugin, propertyId);
}

void PropertyTextField::MouseEnter()
{
    if (Editable())
        glowing.store(true, std::memory_order_relaxed);
    if (manager)
        manager->RequestRedraw();
}

void PropertyTextField::MouseLeave()
{
    glowing.store(false, std::memory_order_relaxed);
    if (manager)
        manager->RequestRedraw();
}

void PropertyTextField::MouseDown(const Point&, uint32_t, int)
{
    if (Editable() && action)
        action(this, actionContext);
}

void PropertyTextField::Draw()
{
    const Colour target = glowing.load(std::memory_order_relaxed) ? kGlowColour : Colour{1, 1, 1, 0};
    if (current.a < 0.001f && target.a < 0.001f)
        return;
    current.r = 0.85f * current.r + 0.15f * target.r;
    current.g = 0.85f * current.g + 0.15f * target.g;
    current.b = 0.85f * current.b + 0.15f * target.b;
    current.a = 0.85f * current.a + 0.15f * target.a;
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glColor4f(current.r, current.g, current.b, current.a);
    gl::FillRect(rect.x0, rect.y0, rect.x1, rect.y1);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_BLEND);
}

void PropertyTextField::DrawLabels(FontRecord*)
{
    const Box box = AbsoluteBox(this);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(0.1f, 0.1f, 0.15f, 0.7f);
    gl::FillRect(box.x0, box.y0, box.x1, box.y1);
    glDisable(GL_BLEND);
}

} // namespace QZ
