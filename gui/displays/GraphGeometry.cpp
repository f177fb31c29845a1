#include "gui/displays/GraphGeometry.h"

#include <cmath>

#include "framework/FastSine.h"
#include "gui/displays/DisplayMath.h"

namespace QZ::graphs {

namespace {

// The widest display drawn: a guard against a width that is not a size.
constexpr float kMaxWidth = 16384.0f;

int32_t PixelCount(float width)
{
    return static_cast<int32_t>(Limit(width, 0.0f, kMaxWidth, 0.0f));
}

} // namespace

void BuildWaveform(const float settings[kWaveSettingCount], float width, std::vector<Point>& out)
{
    out.clear();
    const int32_t n = PixelCount(width);
    if (n < 1)
        return;
    const float offset = Finite(settings[kWaveOffset], 0.0f);
    const float sine = Finite(settings[kWaveSine], 0.0f);
    const float triangle = Finite(settings[kWaveTriangle], 0.0f);
    const float square = Finite(settings[kWaveSquare], 0.0f);
    const float saw = Finite(settings[kWaveSaw], 0.0f);
    const float pulseWidth = Finite(settings[kWavePulseWidth], 50.0f) * 0.01f;
    // The point `a` of the cycle is drawn where the unwarped middle would be.
    const float a = Limit(settings[kWaveAsymmetry] * 0.005f + 0.5f, 0.0f, 1.0f, 0.5f);
    const float rise = a > 0.0f ? 0.5f / a : 0.0f;
    const float fall = a < 1.0f ? 0.5f / (1.0f - a) : 0.0f;
    out.reserve(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        const float t = static_cast<float>(i) / static_cast<float>(n);
        const float p = t >= a ? t * fall + (1.0f - fall) : t * rise;
        const float value = std::min(4.0f * p - 1.0f, 3.0f - 4.0f * p) * triangle + FastSine(p) * sine +
                            (p > pulseWidth ? -1.0f : 1.0f) * square + (2.0f * p - 1.0f) * saw + offset;
        out.push_back({static_cast<float>(i), Limit(value, -1.0f, 1.0f, 0.0f)});
    }
}

bool WaveformFlashes(double phaseOffset, float phase, double rate)
{
    const double distance = std::fabs(phaseOffset - static_cast<double>(phase));
    // NaN compares false: no flash.
    return distance < rate / 30.0;
}

float Transfer(float type, float u)
{
    switch (static_cast<int32_t>(Limit(type, -1.0f, 4.0f, 0.0f))) {
    case 1: return u > 1e-10f ? std::log2(u) + 1.0f : 0.0f;
    case 2: return std::exp2(u - 1.0f);
    case 3: return std::fabs(u);
    default: return u;
    }
}

void BuildFunctionCurve(const float settings[kFunctionSettingCount], float width, std::vector<Point>& out)
{
    out.clear();
    const int32_t n = PixelCount(width) / 2 + 1;
    if (n < 2)
        return;
    const float type = settings[kFunctionType];
    const float scale = Finite(settings[kFunctionOutputScale], 1.0f);
    const float offset = Finite(settings[kFunctionOutputOffset], 0.0f);
    out.reserve(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        const float u = static_cast<float>(i) * 2.0f / static_cast<float>(n - 1) - 1.0f;
        out.push_back({static_cast<float>(2 * i), Limit(Transfer(type, u) * scale + offset, -1.0f, 1.0f, 0.0f)});
    }
}

float EnvelopeSegmentLevel(float y0, float target, float c, float u)
{
    const float d = target - y0;
    const float q = d >= 0.0f ? (1.0f - c) * d : (c - 1.0f) * d;
    const float l = d >= 0.0f ? c * d : (2.0f - c) * d;
    return y0 + l * u + q * u * u;
}

void BuildEnvelope(const float values[kEnvelopeValueCount], float width, std::vector<Point>& out)
{
    out.clear();
    const float w = Limit(width, 0.0f, kMaxWidth, 0.0f);
    // A fifth time of exactly -1 marks an envelope without its last segment.
    const int32_t segments = values[4] == -1.0f ? 4 : 5;
    float times[5];
    float total = 1.0f; // the sustain hold's share
    for (int32_t s = 0; s < segments; ++s) {
        times[s] = Limit(Finite(values[s], 0.0f), 0.0f, 1e6f, 0.0f);
        total += times[s];
    }
    const float k = w / total;

    float x = 0.0f;
    float y = 0.0f;
    out.push_back({x, y});
    for (int32_t s = 0; s < segments; ++s) {
        if (s == 3) { // the sustain: held for one time unit
            x += k;
            out.push_back({x, y});
        }
        const float target = s < 4 ? Limit(values[kEnvelopeLevels + s], 0.0f, 1.0f, 0.0f) : 0.0f;
        const float c = Limit(values[kEnvelopeCurveFactors + s], 0.0f, 2.0f, 1.0f);
        const float p = k * times[s];
        const auto pixels = static_cast<int32_t>(p);
        for (int32_t i = 1; i < pixels; ++i) {
            const float u = static_cast<float>(i) / p;
            out.push_back({x + static_cast<float>(i), Limit(EnvelopeSegmentLevel(y, target, c, u), 0.0f, 1.0f, 0.0f)});
        }
        x += p;
        y = target;
        out.push_back({x, y});
    }
}

void BuildCalibrationCurve(const float notes[kCalibrationPoints], const float values[kCalibrationPoints],
                           std::vector<Point>& out)
{
    out.clear();
    out.reserve(kCalibrationPoints);
    for (int32_t i = 0; i < kCalibrationPoints; ++i)
        out.push_back({Limit(notes[i], 0.0f, 128.0f, static_cast<float>(i)), Limit(values[i], -1.0f, 1.0f, 0.0f)});
}

float PitchTraceValue(float frequency)
{
    if (!(frequency > 50.0f))
        return 0.0f;
    return Limit((std::log10(frequency) - 1.69897f) / 2.0f, 0.0f, 1.0f, 0.0f);
}

float LevelTraceValue(float level)
{
    return Limit(level, 0.0f, 1.0f, 0.0f);
}

TraceHistory::TraceHistory(float width)
{
    const int32_t n = PixelCount(width);
    if (n >= 1)
        samples.assign(static_cast<size_t>(n) + 1, 0.0f);
}

void TraceHistory::Push(float value)
{
    if (samples.empty())
        return;
    newest = (newest + 1) % Size();
    samples[static_cast<size_t>(newest)] = value;
}

float TraceHistory::At(int32_t i) const
{
    if (samples.empty())
        return 0.0f;
    return samples[static_cast<size_t>((newest + 1 + i) % Size())];
}

} // namespace QZ::graphs
