#include "gui/luagui/StandInWidgets.h"

#include <GL/glew.h>

#include <cmath>

#include "gui/displays/DisplayElement.h"

namespace QZ {

namespace {

// Fill and outline of each kind, calm greys with one accent for controls
// that edit a parameter.
struct Look {
    Colour fill;
    Colour outline;
};

Look LookOf(StandInWidget::Kind kind)
{
    using Kind = StandInWidget::Kind;
    switch (kind) {
    case Kind::Knob:
    case Kind::Slider:
        return {{0.22f, 0.24f, 0.28f, 1}, {0.55f, 0.7f, 0.95f, 1}};
    case Kind::Button:
    case Kind::StatefulButton:
    case Kind::PropertyButton:
        return {{0.3f, 0.3f, 0.32f, 1}, {0.75f, 0.75f, 0.75f, 1}};
    case Kind::DropDown:
        return {{0.8f, 0.8f, 0.85f, 1}, {0.5f, 0.5f, 0.55f, 1}};
    case Kind::Label:
        return {{0.1f, 0.1f, 0.15f, 0.3f}, {0.1f, 0.1f, 0.15f, 0.3f}};
    case Kind::TextField:
    case Kind::PropertyField:
        return {{0.12f, 0.12f, 0.12f, 1}, {0.45f, 0.45f, 0.45f, 1}};
    }
    return {};
}

} // namespace

StandInWidget::StandInWidget(Manager* manager, Kind kind, float x, float y, float w, float h)
    : ControlBase(manager), kind(kind)
{
    rect.x0 = x;
    rect.y0 = y;
    rect.z0 = 0;
    rect.x1 = x + w;
    rect.y1 = y + h;
    rect.z1 = 0;
    const Look look = LookOf(kind);
    SetColour(0, look.fill);
    SetColour(1, look.outline);
}

void StandInWidget::SetColour(int which, const Colour& colour)
{
    if (which < 0 || which > 3)
        return;
    const float values[4] = {colour.r, colour.g, colour.b, colour.a};
    for (int i = 0; i < 4; ++i)
        colours[which][i].store(values[i], std::memory_order_relaxed);
}

Colour StandInWidget::GetColour(int which) const
{
    if (which < 0 || which > 3)
        return {};
    return Colour{colours[which][0].load(std::memory_order_relaxed), colours[which][1].load(std::memory_order_relaxed),
                  colours[which][2].load(std::memory_order_relaxed), colours[which][3].load(std::memory_order_relaxed)};
}

void StandInWidget::InitGL()
{
    if (font && font->texture == 0)
        PreloadGlyphs(*font);
}

void StandInWidget::Draw()
{
    if (!IsVisible() || rect.IsEmpty())
        return;
    const Look look = LookOf(kind);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    Colour fill = kind == Kind::Label ? GetColour(0) : look.fill;
    if (kind == Kind::StatefulButton && State())
        fill = Colour{0.45f, 0.55f, 0.75f, 1};
    draw::SetColour(fill);
    draw::FillBox(rect.x0, rect.y0, rect.x1, rect.y1);
    if (kind != Kind::Label) {
        draw::SetColour(look.outline);
        glBegin(GL_LINE_LOOP);
        glVertex2f(rect.x0 + 0.5f, rect.y0 + 0.5f);
        glVertex2f(rect.x1 - 0.5f, rect.y0 + 0.5f);
        glVertex2f(rect.x1 - 0.5f, rect.y1 - 0.5f);
        glVertex2f(rect.x0 + 0.5f, rect.y1 - 0.5f);
        glEnd();
    }
    const bool showsText = kind == Kind::Label || kind == Kind::Button || kind == Kind::StatefulButton ||
                           kind == Kind::PropertyButton;
    if (font && font->HasFont() && showsText && !text.empty()) {
        // Labels from their inset corner, button captions centred.
        float x = rect.x0 + 3, y = rect.y0 + 3;
        if (kind != Kind::Label) {
            if (textWidth < 0)
                textWidth = MeasureText(*font, text);
            x = std::floor(rect.x0 + (rect.x1 - rect.x0 - textWidth) / 2);
            y = std::floor(rect.y0 + (rect.y1 - rect.y0) / 2 - 4);
        }
        draw::SetColour(kind == Kind::Label ? GetColour(1) : Colour{0.92f, 0.92f, 0.92f, 1});
        textCache.Layout(font, text, x, y);
        textCache.Draw(font);
    }
    glDisable(GL_BLEND);
}

void StandInWidget::MouseDown(const Point&, uint32_t, int)
{
    if (kind != Kind::Button && kind != Kind::StatefulButton && kind != Kind::PropertyButton)
        return;
    if (toggle)
        state.store(!State(), std::memory_order_relaxed);
    if (action)
        action(this, context);
}

} // namespace QZ
