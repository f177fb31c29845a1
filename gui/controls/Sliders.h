// Sliders: controls bound to one plug-in parameter, shown as a thumb that
// moves along a horizontal or vertical track. The thumb is drawn by the
// slider's TexturedSliderRenderer together with every other thumb of that
// renderer; the slider itself draws only a translucent groove into the
// panel.
//
// Gestures (UI thread; modifier bits of CarbonVSTEditor): a press jumps the
// value to the pointer and a drag follows it (0 at the left or bottom
// edge, 1 at the right or top edge); with Shift the drag moves 0.0005 per
// pixel from the value at the press; with Ctrl the value snaps to whole
// real values; Alt-press resets to the default and the drag that follows
// changes nothing while Alt is held. Every press begins the host's edit
// gesture and the release ends it. A wheel notch arrives as a press, a
// 10-pixel drag and a release.
//
// Made on the UI thread while the element tree is built, before the render
// task starts; the renderer keeps the slider's record as long as it lives.
#pragma once

#include <cstdint>

#include "gui/toolkit/UIElement.h"

namespace QZ {

class TexturedSliderRenderer;

class Slider : public Control {
public:
    static constexpr float kFineSensitivity = 0.0005f; // per pixel, Shift

    // Rectangle (x, y) .. (x + w, y + h) in the parent group's coordinates.
    Slider(Manager* manager, int32_t parameterIndex, float x, float y, float w, float h, bool horizontal);

    void MouseDown(const Point& point, uint32_t modifiers, int clicks) override;
    void MouseDrag(const Point& point, uint32_t modifiers) override;
    // render thread: the groove, inset by 2 pixels across the travel.
    void DrawLabels(FontRecord* font) override;

    bool IsHorizontal() const { return horizontal; }
    // The normalised value a drag to point gives (before Ctrl snapping),
    // from the slider's window rectangle.
    float ValueAt(const Point& point) const;

protected:
    // The slider's rectangle in window pixels.
    Box WindowBox() const;

    bool horizontal;
    Point pressPoint;
    float pressValue = 0;
};

class TexturedSlider : public Slider {
public:
    // The thumb shows the image around (textureX, textureY) with half extents
    // (halfWidth, halfHeight), all in texture pixels; the renderer is not
    // owned and may be null (then nothing is drawn).
    TexturedSlider(Manager* manager, TexturedSliderRenderer* renderer, float textureX, float textureY, float halfWidth,
                   float halfHeight, int32_t parameterIndex, float x, float y, float w, float h, bool horizontal);

    // render thread: reads the value and moves the thumb.
    void Update() override;
    // render thread: the track's start and travel in window pixels.
    void InitGL() override;
    void SetVisible(bool visible) override;

    int32_t RecordIndex() const { return recordIndex; }
    // The thumb centre for normalised value v (window pixels; valid after
    // InitGL).
    Point ThumbCentre(float v) const;

private:
    TexturedSliderRenderer* renderer;
    int32_t recordIndex = -1;
    Point trackStart;
    float travel = 0;
    float thumbOffset = 0;
};

} // namespace QZ
