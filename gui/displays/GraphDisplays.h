// Live graphs of a plug-in's settings and state: a pitch calibration table,
// an envelope's shape, the Function plug-in's transfer curve and one LFO
// cycle, each with a marker at the plug-in's current position read from its
// indicator block.
//
// Creation (UI thread, while the GUI script builds the editor): each Create
// checks that the plug-in has what the display shows and otherwise makes
// nothing and sets `error` to a text the Lua layer raises, naming the Lua
// function. A display made belongs to the manager.
//
// Threads: Update and Draw on the render thread; the colour setters of
// DisplayElement on the UI thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gui/displays/DisplayElement.h"
#include "gui/displays/GraphGeometry.h"

namespace QZ {

// The plug-in's calibration table (property kObryProperty_CalibrationValues)
// as a curve over the notes 0..127, with a marker at the note the plug-in
// plays (indicator elements 2: the note position, 3: its value).
class CalibrationDisplay : public DisplayElement {
public:
    // Lua calibrationDisplay(x, y, w, h). Needs a calibration table of at
    // least 128 entries.
    static CalibrationDisplay* Create(Manager& manager, float x, float y, float w, float h, std::string& error);

    void Draw() override;

private:
    CalibrationDisplay(Manager* manager, float x, float y, float w, float h, const float* entries);

    const float* entries; // the plug-in's {note, value} pairs, written by other threads
    std::vector<Point> points;
};

// What the envelope, Function and waveform displays share: a curve of the
// parameters of one channel (or envelope) `id`, made again whenever one of
// them changes.
class ParameterGraphDisplay : public DisplayElement {
public:
    // render thread: reads the parameters; a change rebuilds the curve
    // before the next Draw.
    void Update() override;

protected:
    ParameterGraphDisplay(Manager* manager, int32_t id, BoundParameters parameters, float x, float y, float w,
                          float h);
    // UI thread, while the display is made: binds `count` parameters from
    // `first` (their names beginning with `names`, when given), or sets
    // `error` to "<function>: the plug-in has no <what>".
    static bool BindParameters(Manager& manager, int32_t first, int32_t count, const char* const* names,
                               const char* function, const char* what, BoundParameters& parameters,
                               std::string& error);
    // render thread: the curve, rebuilt from the parameters when they changed.
    const std::vector<Point>& Curve();
    virtual void BuildCurve(const float* values, std::vector<Point>& out) = 0;

    int32_t id;
    BoundParameters parameters;

private:
    bool dirty = true;
    std::vector<Point> points;
};

// Envelope `id` of a plug-in with envelopes (property
// kObryProperty_EnvelopeLayout): its shape, filled, and a marker at the
// envelope's position and level (indicator elements 4 + 2 id, 5 + 2 id).
class EnvDisplay : public ParameterGraphDisplay {
public:
    // Lua envelopeDisplay(id, x, y, w, h), id 0..2 and an envelope the
    // plug-in has.
    static EnvDisplay* Create(Manager& manager, int32_t id, float x, float y, float w, float h, std::string& error);

    void Draw() override;

private:
    using ParameterGraphDisplay::ParameterGraphDisplay;
    void BuildCurve(const float* values, std::vector<Point>& out) override;
};

// Channel `id` of the Function plug-in: its transfer curve and a marker at
// the current input and output (indicator elements 12 + id, 14 + id).
class FunctionDisplay : public ParameterGraphDisplay {
public:
    // Lua functionDisplay(id, x, y, w, h), id 0..1.
    static FunctionDisplay* Create(Manager& manager, int32_t id, float x, float y, float w, float h,
                                   std::string& error);

    void Draw() override;

private:
    using ParameterGraphDisplay::ParameterGraphDisplay;
    void BuildCurve(const float* values, std::vector<Point>& out) override;
};

// Channel `id` of the LFO: one cycle of its waveform and a marker at its
// phase and output (indicator f32 elements 12 + id, 14 + id). The background
// flashes while the phase passes the channel's phase offset (f64 elements
// 8 + id and, for the rate, 10 + id).
class WaveformDisplay : public ParameterGraphDisplay {
public:
    // Lua waveformDisplay(id, x, y, w, h), id 0..1.
    static WaveformDisplay* Create(Manager& manager, int32_t id, float x, float y, float w, float h,
                                   std::string& error);

    void Draw() override;

private:
    using ParameterGraphDisplay::ParameterGraphDisplay;
    void BuildCurve(const float* values, std::vector<Point>& out) override;
};

} // namespace QZ
