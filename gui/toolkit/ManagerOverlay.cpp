// The manager's overlay (render thread): banner, title, readout, parameter
// labels and the tooltip, drawn over the panel each frame.
#include <epoxy/gl.h>

#include "gui/toolkit/Manager.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "framework/InstanceRegistry.h"
#include "framework/ObryProperties.h"
#include "gui/toolkit/Effect.h"
#include "gui/toolkit/GLSupport.h"
#include "gui/toolkit/UIElement.h"

namespace QZ {

void Manager::DrawOverlay()
{
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    const GLfloat ambient[] = {0.2f, 0.2f, 0.2f, 1.0f};
    const GLfloat diffuse0[] = {0.8f, 0.8f, 0.8f, 1.0f};
    const GLfloat specular0[] = {0.2f, 0.2f, 0.2f, 1.0f};
    const GLfloat position0[] = {0.6f, 0.6f, 0.5f, 0.0f};
    gl::SetLightZero(ambient, diffuse0, specular0, position0);

    if (UIElement* entered = LastEntered()) {
        const Box box = UIElement::AbsoluteBox(entered);
        if (!box.IsEmpty())
            lightTarget = Point{(box.x0 + box.x1) / 2, (box.y0 + box.y1) / 2};
    }
    // The second light follows the pointer smoothly; the renderers' shaders
    // use it.
    light1Position[0] = 0.9f * light1Position[0] + 0.1f * lightTarget.x;
    light1Position[1] = 0.9f * light1Position[1] + 0.1f * lightTarget.y;
    glEnable(GL_LIGHT1);
    const GLfloat diffuse1[] = {0.9f, 0.9f, 0.9f, 1.0f};
    const GLfloat specular1[] = {0.5f, 0.5f, 0.7f, 1.0f};
    glLightfv(GL_LIGHT1, GL_DIFFUSE, diffuse1);
    glLightfv(GL_LIGHT1, GL_SPECULAR, specular1);
    glLightfv(GL_LIGHT1, GL_POSITION, light1Position);
    const GLfloat materialSpecular[] = {0.5f, 0.5f, 0.5f, 1.0f};
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 40.0f);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, materialSpecular);
    glEnable(GL_COLOR_MATERIAL);

    FontRecord* font = mainFont && mainFont->HasFont() ? mainFont.get() : nullptr;
    const bool floatingTooltip = FloatingTooltipEnabled();
    std::string tooltip;
    bool hasTooltip = false;
    if (font)
        hasTooltip = DrawBannerAndReadout(*font, &tooltip);

    if (root)
        root->Draw();
    glDepthMask(GL_FALSE);
    for (Effect* effect : effects)
        effect->Draw();
    if (root && drawPopups.load(std::memory_order_relaxed))
        root->DrawPopup();

    if (font && floatingTooltip)
        DrawTooltip(*font, hasTooltip ? tooltip : std::string());
    else
        tooltipAlpha = 0; // switched off: nothing is left to fade out
    {
        std::lock_guard<std::mutex> hold(tooltipTextLock);
        shownTooltipText = hasTooltip ? tooltip : std::string();
    }
}

bool Manager::DrawBannerAndReadout(FontRecord& font, std::string* tooltip)
{
    if (!bannerBox.IsEmpty()) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glColor4f(bannerColour.r, bannerColour.g, bannerColour.b, bannerColour.a);
        glBegin(GL_QUADS);
        glVertex2f(bannerBox.x0, bannerBox.y0);
        glVertex2f(bannerBox.x1, bannerBox.y0);
        glVertex2f(bannerBox.x1, bannerBox.y1);
        glVertex2f(bannerBox.x0, bannerBox.y1);
        glEnd();
        glDisable(GL_BLEND);
    }

    float x = ReadoutX();
    const float y = bannerBox.y0 - font.Descender();
    glColor4f(bannerTextColour.r, bannerTextColour.g, bannerTextColour.b, bannerTextColour.a);
    bool hasText = false;
    const int32_t edited = EditedParameter();
    const int32_t shown = edited >= 0 ? edited : HoveredParameter();
    // The readout stays on the banner strip, whose end leaves room for the
    // Prefs button: an automatic one that would run past the end moves left
    // by as much, and nothing is drawn beyond it.
    const bool onBanner = !bannerBox.IsEmpty();
    std::optional<gl::ScopedClip> clip;
    if (onBanner)
        clip.emplace(WindowBox(Box{bannerBox.x0, 0, 0, bannerBox.x1, static_cast<float>(PanelHeight()), 0}));
    const auto fitted = [&](float end) {
        const float overflow = end - (bannerBox.x1 - kReadoutMargin);
        return onBanner && readoutX < 0 && overflow > 0 ? x - overflow : x;
    };
    if (shown >= 0) {
        std::string text;
        x = fitted(ParameterLabelEnd(font, shown, x));
        DrawParameterLabel(font, shown, x, y, &text);
        if (tooltip)
            *tooltip = text;
        hasText = true;
    } else if (shown < -1) {
        if (shown != cachedCommandId) {
            cachedCommandId = shown;
            cachedCommandText = CommandText(shown);
        }
        if (cachedCommandText) {
            x = fitted(x + MeasureText(font, cachedCommandText));
            commandCache.Layout(&font, cachedCommandText, x, y);
            commandCache.Draw(&font);
            if (tooltip)
                *tooltip = cachedCommandText;
            hasText = true;
        }
    } else if (const std::string line = Notice(); !line.empty()) {
        x = fitted(x + MeasureText(font, line));
        noticeCache.Layout(&font, line, x, y);
        noticeCache.Draw(&font);
    }
    clip.reset();

    if (showInstanceNumber.load(std::memory_order_relaxed) && plugin) {
        // The registry's lock is shared with the audio thread: only the two
        // numbers are read under it, the text is made and drawn after.
        uint32_t perType = 0, processWide = 0;
        {
            InstanceRegistry::Lock lock;
            if (InstanceRegistry::LockAndFind(plugin, lock)) {
                perType = InstanceRegistry::InstanceNumber(plugin);
                processWide = InstanceRegistry::GlobalNumber(plugin);
            }
        }
        if (perType != 0 || processWide != 0) {
            char text[32];
            snprintf(text, sizeof text, "%u (%u)", perType, processWide);
            const float numberX = bannerBox.x1 - MeasureText(font, "00 (00) ");
            instanceCache.Layout(&font, text, numberX, y);
            instanceCache.Draw(&font);
        }
    }
    return hasText;
}

float Manager::ParameterLabelEnd(FontRecord& font, int32_t index, float x)
{
    if (index < 0 || static_cast<size_t>(index) >= parameterLabels.size() || !plugin)
        return x;
    char value[128] = {};
    plugin->getParameterDisplay(index, value);
    value[sizeof value - 1] = 0;
    char unit[128] = {};
    plugin->getParameterLabel(index, unit);
    unit[sizeof unit - 1] = 0;
    const float valueEnd = x + 150 + MeasureText(font, value);
    return unit[0] ? std::max(valueEnd, x + 190 + MeasureText(font, unit)) : valueEnd;
}

void Manager::DrawParameterLabel(FontRecord& font, int32_t index, float x, float y, std::string* tooltip)
{
    if (index < 0 || static_cast<size_t>(index) >= parameterLabels.size() || !plugin)
        return;
    const char* name = parameterLabels[static_cast<size_t>(index)].name;
    const float nameWidth = MeasureText(font, name);
    nameCache.Layout(&font, name, x + 150 - nameWidth - 10, y);
    nameCache.Draw(&font);
    if (tooltip)
        *tooltip = name;

    char value[128] = {};
    plugin->getParameterDisplay(index, value);
    value[sizeof value - 1] = 0;
    valueCache.Layout(&font, value, x + 150, y);
    valueCache.Draw(&font);
    if (tooltip)
        *tooltip += std::string(" ") + value;

    float penX = x + 190, penY = y;
    char unit[128] = {};
    plugin->getParameterLabel(index, unit);
    unit[sizeof unit - 1] = 0;
    if (unit[0]) {
        penX = unitCache.Layout(&font, unit, penX, y);
        unitCache.Draw(&font);
        if (tooltip)
            *tooltip += std::string(" ") + unit;
        penX += 10;
    }
    DrawParameterExtra(font, index, penX, penY, tooltip);
}

void Manager::DrawTooltip(FontRecord& font, const std::string& text)
{
    UIElement* element = TooltipElement();
    if (!element || text.empty()) {
        tooltipAlpha *= 0.89f;
        if (tooltipAlpha < 0.003921569f)
            tooltipAlpha = 0;
    } else {
        tooltipAlpha = tooltipAlpha * 0.84f + 0.16f;
        tooltipText = text;
        const Box box = UIElement::AbsoluteBox(element);
        tooltipWidth = MeasureText(font, tooltipText);
        const float centreX = box.IsEmpty() ? 0 : (box.x0 + box.x1) / 2;
        tooltipX = std::max(centreX - tooltipWidth / 2, 5.0f);
        tooltipX = std::min(tooltipX, static_cast<float>(PanelWidth()) - 5 - tooltipWidth);
        tooltipY = box.IsEmpty() ? 0 : (box.y0 + box.y1) / 2;
        tooltipLineHeight = font.LineHeight();
    }
    if (tooltipAlpha <= 0)
        return;
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(0.7f, 0.7f, 0.7f, tooltipAlpha * 0.5f);
    glBegin(GL_QUADS);
    glVertex2f(tooltipX - 5, tooltipY);
    glVertex2f(tooltipX + tooltipWidth + 5, tooltipY);
    glVertex2f(tooltipX + tooltipWidth + 5, tooltipY + tooltipLineHeight);
    glVertex2f(tooltipX - 5, tooltipY + tooltipLineHeight);
    glEnd();
    glDisable(GL_BLEND);
    glColor4f(0.8f, 0.8f, 0.8f, tooltipAlpha * 0.9f);
    tooltipCache.Layout(&font, tooltipText, tooltipX, tooltipY - font.Descender());
    tooltipCache.Draw(&font);
}

void Manager::ShowNotice(const std::string& text)
{
    {
        std::lock_guard<std::mutex> hold(tooltipTextLock);
        notice = text;
    }
    RequestRedraw();
}

std::string Manager::Notice() const
{
    std::lock_guard<std::mutex> hold(tooltipTextLock);
    return notice;
}

std::string Manager::TooltipText() const
{
    std::lock_guard<std::mutex> hold(tooltipTextLock);
    return shownTooltipText;
}

float Manager::ReadoutX() const
{
    if (readoutX >= 0)
        return readoutX;
    return bannerMode == kBannerNone ? 25.0f : static_cast<float>(PanelWidth()) / 2 + 15;
}

} // namespace QZ
