// The curves of the graph displays, apart from GL: one LFO cycle, the
// Function plug-in's transfer curve, an envelope's shape, a calibration
// table, and the Follower's scrolling traces.
//
// Any thread: pure functions and a plain value type. Settings and indicator
// values may be anything (NaN, infinite, out of range); every point made is
// finite and inside the display's value range.
#pragma once

#include <cstdint>
#include <vector>

#include "gui/toolkit/Geometry.h"

namespace QZ::graphs {

// An LFO channel's settings, in the order of its parameters "Offset" ..
// "Asymmetry".
enum WaveSetting : int32_t {
    kWaveOffset = 0,
    kWaveSine,
    kWaveTriangle,
    kWaveSquare,
    kWaveSaw,
    kWaveRandom, // not drawn
    kWaveNoise,  // not drawn
    kWavePulseWidth, // percent
    kWaveAsymmetry,  // percent, -100 .. 100
    kWaveSettingCount,
};

// One cycle, one point per pixel: point i at x = i for i < trunc(width), y
// the LFO's value there (-1 .. 1). No points when the width is below 1.
void BuildWaveform(const float settings[kWaveSettingCount], float width, std::vector<Point>& out);

// Whether the waveform display flashes: the channel's phase is within a
// frame (1/30 s at the channel's rate) of its phase offset.
bool WaveformFlashes(double phaseOffset, float phase, double rate);

// A Function channel's settings, in the order of its parameters "Function"
// .. "Output Offset".
enum FunctionSetting : int32_t {
    kFunctionType = 0, // 0 linear, 1 log2, 2 exp2, 3 absolute value
    kFunctionInputScale,
    kFunctionInputOffset,
    kFunctionOutputScale,
    kFunctionOutputOffset,
    kFunctionSettingCount,
};

// The transfer function of a type (truncated; unknown types are linear).
float Transfer(float type, float u);

// The curve over inputs -1 .. 1, a point every 2 pixels (x = 0, 2, 4, ...),
// y = f(u) x output scale + output offset limited to -1 .. 1. The input
// scale and offset do not enter the drawn curve. Fewer than two points make
// no curve.
void BuildFunctionCurve(const float settings[kFunctionSettingCount], float width, std::vector<Point>& out);

// An envelope's fourteen settings: times t0..t4 (seconds), curve factors
// c0..c4, target levels l0..l3 (l4 is 0).
constexpr int32_t kEnvelopeValueCount = 14;
constexpr int32_t kEnvelopeCurveFactors = 5;
constexpr int32_t kEnvelopeLevels = 10;

// The shape over the width: three attack segments, a sustain hold as wide as
// one time unit, two release segments (the last left out when t4 is exactly
// -1), a point per pixel along each segment; y is the level, 0 .. 1.
void BuildEnvelope(const float values[kEnvelopeValueCount], float width, std::vector<Point>& out);

// One segment's level at u (0 .. 1) from y0 to `target` with curve factor
// c: 1 is straight, 0 starts flat when rising, 2 starts flat when falling.
float EnvelopeSegmentLevel(float y0, float target, float c, float u);

// A calibration table's first 128 entries as points (note, value), limited
// to 0 .. 128 and -1 .. 1.
constexpr int32_t kCalibrationPoints = 128;
void BuildCalibrationCurve(const float notes[kCalibrationPoints], const float values[kCalibrationPoints],
                           std::vector<Point>& out);

// The Follower's traces, 0 .. 1: the pitch trace is logarithmic from 50 Hz
// (and anything below, or not a frequency) at the bottom to 5 kHz at the top.
float PitchTraceValue(float frequency);
float LevelTraceValue(float level);

// The last width + 1 samples of a trace (one per frame), oldest first, so
// that the newest is drawn at the right edge.
class TraceHistory {
public:
    explicit TraceHistory(float width);
    void Push(float value);
    // Samples held: width + 1 (0 for a width below 1).
    int32_t Size() const { return static_cast<int32_t>(samples.size()); }
    // Sample i, 0 the oldest.
    float At(int32_t i) const;

private:
    std::vector<float> samples;
    int32_t newest = 0;
};

} // namespace QZ::graphs
