// Knobs: controls bound to one plug-in parameter, turned by dragging
// vertically. A knob draws nothing itself; its renderer draws all knobs of
// its kind in one batch from the records the knobs keep up to date.
//
//   ArcKnob   drawn by an ArcKnobRenderer as a swept arc over 270 degrees,
//             brightened while its parameter is being edited
//   BrelKnob  drawn by a TexturedKnobRenderer as an image turning +-135
//             degrees
//
// Gestures (UI thread; modifier bits of CarbonVSTEditor): a drag moves the
// value by 0.005 of the range per pixel upwards (0.0005 with Shift), with
// Ctrl in whole steps of the real value; Alt-double-click sets 0, Alt-click
// or a double-click sets the default; a plain click on a 0..1 stepped
// parameter flips it. Every press begins the host's edit gesture, the
// release ends it. The pointer wheel arrives as a press, a 10-pixel drag per
// notch and a release.
//
// Made on the UI thread while the editor's element tree is built, before the
// render task starts; the manager owns the knob, the renderer keeps its
// record for as long as the renderer lives.
#pragma once

#include <cstdint>

#include "gui/toolkit/UIElement.h"

namespace QZ {

class KnobRendererBase;
class ArcKnobRenderer;
class TexturedKnobRenderer;

// The manager's label record of a parameter, or an inert record (no
// plug-in) when the index is out of range.
ParameterLabelRecord LabelRecordFor(Manager* manager, int32_t parameterIndex);

class Knob : public Control {
public:
    static constexpr float kSensitivity = 0.005f;     // per pixel
    static constexpr float kFineSensitivity = 0.0005f; // per pixel, Shift

    // Rectangle (x, y) .. (x + size, y + size) in the parent group's
    // coordinates; appends a visible record to the renderer (not owned).
    Knob(Manager* manager, KnobRendererBase* renderer, int32_t parameterIndex, float x, float y, float size);

    void MouseDown(const Point& point, uint32_t modifiers, int clicks) override;
    void MouseDrag(const Point& point, uint32_t modifiers) override;
    // render thread: centre and radius of the record in window pixels.
    void InitGL() override;
    void SetVisible(bool visible) override;

    int32_t RecordIndex() const { return recordIndex; }

protected:
    // Sets the real value with host notification and reads it back.
    void SetRealValue(float value);

    Point pressPoint;
    float pressValue = 0;
    KnobRendererBase* renderer;
    int32_t recordIndex = -1;
};

class ArcKnob : public Knob {
public:
    ArcKnob(Manager* manager, ArcKnobRenderer* renderer, int32_t parameterIndex, float x, float y, float size);

    // render thread: the value's angle; the highlight eases towards full
    // while this knob's parameter is being edited.
    void Update() override;

    float Highlight() const { return highlight; }
    void SetColour(const Colour& colour) { this->colour = colour; }

private:
    Colour colour{1, 1, 1, 1};
    float highlight = 0;
};

class BrelKnob : public Knob {
public:
    BrelKnob(Manager* manager, TexturedKnobRenderer* renderer, int32_t parameterIndex, float x, float y, float size);

    void Update() override;
};

} // namespace QZ
