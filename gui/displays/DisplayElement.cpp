#include "gui/displays/DisplayElement.h"

#include <epoxy/gl.h>

#include <cmath>
#include <cstring>

#include "framework/ObryAuBase.h"
#include "gui/toolkit/GLSupport.h"

namespace QZ {

// SharedColour

void SharedColour::Set(const Colour& colour)
{
    const float components[4] = {colour.r, colour.g, colour.b, colour.a};
    for (int i = 0; i < 4; ++i)
        rgba[i].store(components[i], std::memory_order_relaxed);
}

Colour SharedColour::Get() const
{
    return Colour{rgba[0].load(std::memory_order_relaxed), rgba[1].load(std::memory_order_relaxed),
                  rgba[2].load(std::memory_order_relaxed), rgba[3].load(std::memory_order_relaxed)};
}

// BoundParameters

bool BoundParameters::Bind(const Manager& manager, int32_t first, int32_t count, const char* const* names)
{
    const std::vector<ParameterLabelRecord>& labels = manager.ParameterLabels();
    if (first < 0 || count < 0 || static_cast<size_t>(first) + static_cast<size_t>(count) > labels.size())
        return false;
    records.assign(labels.begin() + first, labels.begin() + first + count);
    for (int32_t i = 0; names && i < count; ++i)
        if (strncmp(records[static_cast<size_t>(i)].name, names[i], strlen(names[i])) != 0)
            return false;
    values.assign(static_cast<size_t>(count), 0.0f);
    scratch.assign(static_cast<size_t>(count), 0.0f);
    return true;
}

float BoundParameters::Current(int32_t i) const
{
    const ParameterLabelRecord& record = Record(i);
    const float value = record.plugin ? record.plugin->GetParameterReal(record.index) : record.defaultValue;
    return std::isfinite(value) ? value : record.defaultValue;
}

bool BoundParameters::Read()
{
    for (int32_t i = 0; i < Count(); ++i)
        scratch[static_cast<size_t>(i)] = Current(i);
    if (!values.empty() && memcmp(scratch.data(), values.data(), values.size() * sizeof(float)) == 0)
        return false;
    values.swap(scratch);
    return true;
}

// DisplayElement

DisplayElement::DisplayElement(Manager* manager, float x, float y, float w, float h) : ControlBase(manager)
{
    rect = Box{x, y, 0, x + w, y + h, 0};
}

void DisplayElement::FillBackground() const
{
    Colour colour = background.Get();
    colour.a = 1.0f;
    draw::SetColour(colour);
    draw::FillBox(rect.x0, rect.y0, rect.x1, rect.y1);
}

// Drawing helpers

namespace draw {

void SetColour(const Colour& colour)
{
    glColor4f(colour.r, colour.g, colour.b, colour.a);
}

void FillBox(float x0, float y0, float x1, float y1)
{
    gl::FillRect(x0, y0, x1, y1);
}

void Marker(float x, float y)
{
    glBegin(GL_LINE_LOOP);
    glVertex2f(x - 2, y - 2);
    glVertex2f(x + 2, y - 2);
    glVertex2f(x + 2, y + 2);
    glVertex2f(x - 2, y + 2);
    glEnd();
}

void LineStrip(const std::vector<Point>& points)
{
    if (points.size() < 2)
        return;
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(2, GL_FLOAT, sizeof(Point), points.data());
    glDrawArrays(GL_LINE_STRIP, 0, static_cast<GLsizei>(points.size()));
    glDisableClientState(GL_VERTEX_ARRAY);
}

void AreaUnder(const std::vector<Point>& points)
{
    if (points.size() < 2)
        return;
    glBegin(GL_QUAD_STRIP);
    for (const Point& p : points) {
        glVertex2f(p.x, 0.0f);
        glVertex2f(p.x, p.y);
    }
    glEnd();
}

SmoothLines::SmoothLines()
{
    glEnable(GL_LINE_SMOOTH);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

SmoothLines::~SmoothLines()
{
    glDisable(GL_LINE_SMOOTH);
    glDisable(GL_BLEND);
}

ValueSpace::ValueSpace(float x, float y, float scaleX, float scaleY)
{
    glPushMatrix();
    glTranslatef(x, y, 0.0f);
    glScalef(scaleX, scaleY, 1.0f);
}

ValueSpace::~ValueSpace()
{
    glPopMatrix();
}

} // namespace draw

} // namespace QZ
