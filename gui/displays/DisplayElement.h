// What the plug-in displays share: colours a script may set while the
// render thread draws, the parameters a display is bound to, reads of the
// plug-in's indicator block, the element base of the graph and text
// displays, and small GL drawing helpers.
//
// Threads: displays are made on the host's UI thread while the GUI script
// builds the editor; colours are set there too, at any time. Update and Draw
// run on the render thread, which alone owns a display's geometry and kept
// values. The indicator block is written by the audio thread and read here
// element by element without a lock (framework/IndicatorBlock.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/IndicatorBlock.h"
#include "gui/toolkit/Geometry.h"
#include "gui/toolkit/Manager.h"
#include "gui/toolkit/UIElement.h"

namespace QZ {

// A colour written by the UI thread and read by the render thread: each
// component is one atomic word, so a reader may at worst see a colour half
// set for one frame.
class SharedColour {
public:
    explicit SharedColour(const Colour& colour) { Set(colour); }
    void Set(const Colour& colour);
    Colour Get() const;

private:
    std::atomic<float> rgba[4];
};

// A run of consecutive plug-in parameters a display shows, with the values
// it last read.
class BoundParameters {
public:
    // UI thread, before the display is made. Copies the manager's records of
    // parameters first .. first + count - 1. False when the plug-in has no
    // such parameters, or when `names` is given and a parameter's name does
    // not begin with its entry (names of L and R channels differ only in
    // their ending).
    bool Bind(const Manager& manager, int32_t first, int32_t count, const char* const* names = nullptr);

    // render thread: reads the current program's real values (a value that
    // is not finite reads as the parameter's default). True when any value
    // differs bytewise from the kept ones, which are then replaced.
    bool Read();

    int32_t Count() const { return static_cast<int32_t>(records.size()); }
    const ParameterLabelRecord& Record(int32_t i) const { return records[static_cast<size_t>(i)]; }
    const float* Values() const { return values.data(); }
    // The current real value of parameter i (default when not finite); any thread.
    float Current(int32_t i) const;

private:
    std::vector<ParameterLabelRecord> records;
    std::vector<float> values;
    std::vector<float> scratch;
};

// The base of the graph and text displays: a rectangle (x, y) to
// (x + w, y + h) relative to the parent group, three colours, no input.
class DisplayElement : public ControlBase {
public:
    DisplayElement(Manager* manager, float x, float y, float w, float h);

    // Displays never take the pointer.
    UIElement* HitTest(const Point&) override { return nullptr; }
    // Displays show what the audio thread writes: their editor draws every
    // frame.
    bool DrawsLiveData() const override { return true; }

    // UI thread (the GUI script), at any time.
    void SetBackgroundColour(const Colour& colour) { background.Set(colour); }
    void SetFillColour(const Colour& colour) { fill.Set(colour); }
    void SetLineColour(const Colour& colour) { line.Set(colour); }

    float Width() const { return rect.x1 - rect.x0; }
    float Height() const { return rect.y1 - rect.y0; }

protected:
    // render thread: fills the rectangle with the background colour, without alpha.
    void FillBackground() const;
    // Element `element` of the indicator block in units of T; `missing`
    // when the plug-in has no block.
    template <class T>
    T Indicator(int element, T missing) const;

    SharedColour background{Colour{0, 0, 0, 1}};
    SharedColour fill{Colour{0.5f, 0.5f, 0.5f, 1}};
    SharedColour line{Colour{1, 1, 1, 1}};
};

namespace draw {

// render thread, in the overlay pass. Colours are set by the caller unless
// given.
void SetColour(const Colour& colour);
void FillBox(float x0, float y0, float x1, float y1);
// A 4 x 4 pixel outline square centred on (x, y).
void Marker(float x, float y);
void LineStrip(const std::vector<Point>& points);
// Each point as the pair (x, 0), (x, y): the area under a curve.
void AreaUnder(const std::vector<Point>& points);

// Line smoothing and alpha blending while alive.
class SmoothLines {
public:
    SmoothLines();
    ~SmoothLines();
    SmoothLines(const SmoothLines&) = delete;
    SmoothLines& operator=(const SmoothLines&) = delete;
};

// The modelview matrix moved to (x, y) and y scaled while alive.
class ValueSpace {
public:
    ValueSpace(float x, float y, float scaleX, float scaleY);
    ~ValueSpace();
    ValueSpace(const ValueSpace&) = delete;
    ValueSpace& operator=(const ValueSpace&) = delete;
};

} // namespace draw

template <class T>
T DisplayElement::Indicator(int element, T missing) const
{
    const uint8_t* block = manager ? manager->IndicatorBlock() : nullptr;
    return block ? ReadIndicator<T>(block, element) : missing;
}

} // namespace QZ
